# Shared steps of the end-to-end tests. Sourced by each test script, which runs
# inside tests/hosts/with-hosts (NS_*, ADDR_*, PREFIX_*, HOST_RUN are set).
# Needs: GL_BIN (Windows programs and gl-uidriver.exe), GL_SIM_SCENARIOS
# (scenario files of the simulated driver, here).
set -u

CONSOLE_EXE=$GL_BIN/KovraGaugelineConsole.exe
AGENT_EXE=$GL_BIN/KovraGaugelineAgent.exe
UIDRIVER=$GL_BIN/gl-uidriver.exe
TITLE="Kovra Gaugeline Console"
# The test peers in Python run on Debian's interpreter (scripts/setup installs
# it), whatever other python3 comes first on the PATH.
PYTHON=/usr/bin/python3
PEER_PY=$(readlink -f "$(dirname "${BASH_SOURCE[0]}")/../peers/peer.py")
EMPTY_TAB="- empty - (UNKNOWN 接続)"
failures=0
declare -A started=()   # name -> unix pid of a program started here

log() { printf '[%s] %s\n' "$(date +%T)" "$*"; }
fail() { log "FAIL: $*"; failures=$((failures + 1)); }
check() { # description, command...
    local what=$1
    shift
    if "$@"; then log "ok: $what"; else fail "$what"; fi
}
finish() {
    [ "$failures" = 0 ] && { log "all checks passed"; exit 0; }
    log "$failures check(s) failed"
    exit 1
}
now_ms() { date +%s%3N; }
wait_for() { # seconds command...: runs the command every 0.1 s until it succeeds
    local end=$(($(now_ms) + $1 * 1000))
    shift
    until "$@"; do
        [ "$(now_ms)" -lt $end ] || return 1
        sleep 0.1
    done
}

require_programs() { # exe...: the test is skipped (77) when one is missing
    local f missing=0
    for f in "$@"; do [ -f "$f" ] || { log "missing $f"; missing=1; }; done
    [ $missing = 0 ] || { log "programs not built; skipped"; exit 77; }
}

# Scenario file of the simulated driver as the Windows side sees it (drive Z:).
scenario_path() {
    local f=$GL_SIM_SCENARIOS/$1
    [ -f "$f" ] || { log "no scenario $1 in $GL_SIM_SCENARIOS"; return 1; }
    printf 'Z:%s' "$(readlink -f "$f" | tr / '\\')"
}

# start NAME HOST EXE [args...]: runs a Windows program in a host, in the background.
start() {
    local name=$1 host=$2
    shift 2
    "$HOST_RUN" "$host" "$@" >"$HOSTS_RUN_DIR/$name.out" 2>&1 &
    started[$name]=$!
    log "started $name (pid ${started[$name]})"
}

start_agent() { # [scenario], default two_gpus.scenario
    local sc
    sc=$(scenario_path "${1:-two_gpus.scenario}") || return 1
    GAUGELINE_SIM_SCENARIO=$sc start agent pc "$AGENT_EXE"
}
start_console() { start console op "$CONSOLE_EXE"; }

alive() { # name
    local pid=${started[$1]:-}
    [ -n "$pid" ] && [ -d /proc/$pid ] && ! grep -q '^[0-9]* ([^)]*) Z' /proc/$pid/stat 2>/dev/null
}
gone() { ! alive "$1"; }

stop() { # name: ends that program (SIGTERM, then SIGKILL) and waits for it
    local pid=${started[$1]:-}
    [ -n "$pid" ] || return 0
    kill "$pid" 2>/dev/null
    wait_for 5 gone "$1"
    kill -9 "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
    unset "started[$1]"
    log "stopped $1"
}

EXIT_CODE=""
wait_exit() { # name [seconds]: waits for the program to end by itself; EXIT_CODE gets its code
    local pid=${started[$1]:-}
    EXIT_CODE=timeout
    wait_for "${2:-30}" gone "$1" || return 1
    wait "$pid"
    EXIT_CODE=$?
    unset "started[$1]"
}

# ui COMMAND [args...]: gl-uidriver in the operator's host; output kept in $UI_OUT.
UI_OUT=""
# ui_on HOST TAG ARGS...: the UI driver in that host, its output in UI_OUT.
# Non-ASCII arguments travel as "u8:<hex of UTF-8>" (see gl-uidriver).
ui_on() {
    local host=$1 tag=$2 a args=()
    shift 2
    for a in "$@"; do
        printf '%s' "$a" | LC_ALL=C grep -q '[^ -~]' && a="u8:$(printf '%s' "$a" | od -An -tx1 | tr -d ' \n')"
        args+=("$a")
    done
    UI_OUT=$("$HOST_RUN" "$host" "$UIDRIVER" "${args[@]}" 2>/dev/null)
    local rc=$?
    printf '%s\n' "$UI_OUT" | sed "s/^/    $tag> /"
    return $rc
}
ui() { ui_on op ui "$@"; }
# The same in the watched PC's host, for the Agent's window.
agent_ui() { ui_on pc agent-ui "$@" --class KOVRAGAUGELINEAGENT; }
# Red pixels of the Agent's link picture (client 100,70, 88 x 26): the red
# cross of the broken link.
agent_link_red() {
    agent_ui stats --rect 100,70,88,26 >/dev/null || { echo -1; return; }
    ui_value reddish
}
ui_value() { printf '%s\n' "$UI_OUT" | sed -n "s/^$1=//p" | head -1; }

console_ready() { ui title --timeout 60; }

# connect ADDRESS: dialog 139; prints the time the dialog took.
connect() { ui connect --address "$1" --wait 20; }

title_is_connected() { # agent label, seconds to wait
    ui title --equals "$TITLE ===> [Agent: $1] から接続" --wait "${2:-15}"
}
title_is_bare() { ui title --equals "$TITLE" --wait "${1:-15}"; }
tabs_are() { # count, first label, seconds
    ui tabs --count "$1" --first "$2" --wait "${3:-10}"
}
tab_label() { ui_value "tab$1"; }

# console_connected ADDRESS: the Console started, dialog 139 sent to ADDRESS,
# the title names that Agent.
console_connected() {
    start_console
    check "console window appears" console_ready
    check "dialog 139 sends the request to $1" connect "$1"
    check "title names the Agent $1" title_is_connected "$1" 15
}

# The test peers (tests/peers/peer.py) run inside a host: peer HOST MODE
# [args...] in the foreground, start_peer LABEL HOST MODE [args...] in the
# background (stop LABEL ends it).
start_peer() {
    local label=$1 host=$2
    shift 2
    start "$label" "$host" "$PYTHON" "$PEER_PY" "$@"
}
peer() {
    local host=$1
    shift
    "$HOST_RUN" "$host" "$PYTHON" "$PEER_PY" "$@"
}
# start_fake_agent LABEL HOST [args...]: the test peer's Agent, once it listens.
start_fake_agent() {
    local label=$1 host=$2
    shift 2
    start_peer "$label" "$host" agent "$@"
    wait_for 10 grep -q '^listening' "$HOSTS_RUN_DIR/$label.out"
}

# Unix pid of a Windows program started here, as the kernel sees it.
pid_of() { echo "${started[$1]:-}"; }
# CPU time (user + system) of a pid in clock ticks.
cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat" 2>/dev/null || echo 0; }
rss_kb() { awk '/^VmRSS/ {print $2}' "/proc/$1/status" 2>/dev/null || echo 0; }

GL_PORT=58680
# Whether a plain TCP connect from HOST to ADDR:58680 succeeds.
port_open() { "$HOST_RUN" "$1" bash -c "exec 3<>/dev/tcp/$2/$GL_PORT" 2>/dev/null; }
# Waits until ADDR accepts on 58680 as seen from HOST; prints the milliseconds it took.
wait_listening() { # host addr seconds
    local t0
    t0=$(now_ms)
    wait_for "$3" port_open "$1" "$2" && echo $(($(now_ms) - t0))
}

cleanup_programs() {
    for n in "${!started[@]}"; do stop "$n"; done
}
trap cleanup_programs EXIT
