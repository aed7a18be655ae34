#!/bin/bash
# The Agent as a Windows service on the watched PC, under Wine's service
# manager: installed with a metrics endpoint, running after a restart, watched
# by the Console and scraped while the windowed Agent gives way to it, stopped
# within 2 s; a start-up failure (no NvAPI) ends it with its exit code; the
# failure paths of install and uninstall; nothing left once uninstalled.
# Wine 8's "sc qc" prints nothing: the configuration is read from the registry.
. "$(dirname "$0")/lib.sh"
require_programs "$CONSOLE_EXE" "$AGENT_EXE" "$UIDRIVER"
METRICS=58681
SERVICE=KovraGaugelineAgent
KEY="HKLM\\System\\CurrentControlSet\\Services\\$SERVICE"
SOURCE_KEY="HKLM\\System\\CurrentControlSet\\Services\\EventLog\\Application\\Kovra Gaugeline Agent"

on_pc() { timeout 60 "$HOST_RUN" pc "$@" 2>/dev/null | iconv -f CP932 -t UTF-8 | tr -d '\r'; }
OUT="" RC=""
agent_says() { # args...: the Agent program run to its end, its words in OUT, its code in RC
    OUT=$(timeout 60 "$HOST_RUN" pc "$AGENT_EXE" "$@" 2>/dev/null | tr -d "\r"; exit "${PIPESTATUS[0]}")
    RC=$?
    printf '%s\n' "$OUT" | sed 's/^/    agent> /'
}
said() { printf '%s\n' "$OUT" | grep -qF "$1"; }
holds() { printf '%s\n' "$1" | grep -qE "$2"; } # text, pattern
state() { on_pc sc.exe query "$SERVICE" | sed -n 's/^ *STATE *: *\([0-9]\).*/\1/p'; }
# net start, again while Wine's service manager answers "database locked" in
# its first seconds, until the state is the one wanted: 4 running, 1 stopped
# (start-up failed).
start_service() {
    local s
    for _ in $(seq 10); do
        on_pc net.exe start "$SERVICE" >/dev/null
        for _ in $(seq 20); do
            s=$(state)
            [ "$s" = 2 ] || break
            sleep 0.25
        done
        [ "$s" = "$1" ] && return 0
        sleep 0.5
    done
    return 1
}
metrics_answer() { "$HOST_RUN" op curl -s -m 3 "http://$ADDR_PC:$METRICS/metrics" | grep -q '^gaugeline_gpu_info'; }
metrics_closed() { ! "$HOST_RUN" op bash -c "exec 3<>/dev/tcp/$ADDR_PC/$METRICS" 2>/dev/null; }

agent_says --install-service --metrics-listen "0.0.0.0:$METRICS"
check "install: code 0 and says so (code $RC)" test "$RC" = 0
check "install: says it installed" said "installed the service $SERVICE"
config=$(on_pc reg.exe query "$KEY")
printf '%s\n' "$config" | sed 's/^/    reg> /'
check "registry: the options on the service's command line" holds "$config" \
    "ImagePath +REG_(EXPAND_)?SZ +\"Z:.*KovraGaugelineAgent.exe\" --service --metrics-listen 0.0.0.0:$METRICS\$"
check "registry: runs as LocalSystem" holds "$config" "ObjectName +REG_SZ +LocalSystem$"
check "registry: display name" holds "$config" "DisplayName +REG_SZ +Kovra Gaugeline Agent$"
check "event source names the program as its message file" \
    holds "$(on_pc reg.exe query "$SOURCE_KEY")" "EventMessageFile +REG_EXPAND_SZ +Z:.*KovraGaugelineAgent.exe$"

agent_says --install-service
check "install twice: code 1 (code $RC)" test "$RC" = 1
check "install twice: says it is there already" said "is already installed: nothing changed"

# The watched PC restarts: Wine's service manager starts again with the next
# program there and starts the automatic-start service, as Windows does at boot.
WINEPREFIX=$PREFIX_PC timeout 20 wineserver -k
WINEPREFIX=$PREFIX_PC timeout 20 wineserver -w
runs_unstarted() {
    for _ in $(seq 60); do
        [ "$(state)" = 4 ] && return 0
        sleep 0.5
    done
    return 1
}
check "after a restart the service runs, started by no one" runs_unstarted
console_connected "$ADDR_PC"
check "one tab: the simulated GPU" tabs_are 1 "Example GPU (DP 接続)"
check "the endpoint answers" metrics_answer

agent_says
check "the windowed Agent beside the service ends with code 0 (code $RC)" test "$RC" = 0
check "and says the service is running" said "the Kovra Gaugeline Agent service is running on this PC"

# From the control's delivery (sc returns once the service has taken it).
on_pc sc.exe stop "$SERVICE" >/dev/null
t0=$(now_ms)
until metrics_closed && [ "$(state)" = 1 ] || [ $(($(now_ms) - t0)) -gt 5000 ]; do sleep 0.05; done
stop_ms=$(($(now_ms) - t0))
log "figure: stop control to stopped, endpoint closed: $stop_ms ms"
check "stopped within 2 s ($stop_ms ms)" test "$stop_ms" -le 2000
check "the report connection closed: the Console's title is bare again" title_is_bare 10
stop console

# Start-up fails without NvAPI: the service ends with the start-up message's code.
system32=$PREFIX_PC/drive_c/windows/system32
mv "$system32/nvapi64.dll" "$HOSTS_RUN_DIR/nvapi64.dll"
check "net start without NvAPI: the service stops" start_service 1
status=$(on_pc sc.exe query "$SERVICE")
printf '%s\n' "$status" | sed 's/^/    sc> /'
check "exit code: service-specific (1066)" holds "$status" "WIN32_EXIT_CODE +: 1066 "
check "service exit code: 4 (NvAPI failed)" holds "$status" "SERVICE_EXIT_CODE +: 4 "
mv "$HOSTS_RUN_DIR/nvapi64.dll" "$system32/nvapi64.dll"

agent_says --uninstall-service
check "uninstall: code 0 (code $RC)" test "$RC" = 0
check "uninstall: says it removed it" said "removed the service $SERVICE and its event source"
check "the service's registry key is gone" bash -c "! timeout 60 '$HOST_RUN' pc reg.exe query '$KEY' >/dev/null 2>&1"
check "the event source is gone" bash -c "! timeout 60 '$HOST_RUN' pc reg.exe query '$SOURCE_KEY' >/dev/null 2>&1"

agent_says --uninstall-service
check "uninstall when absent: code 1 (code $RC)" test "$RC" = 1
check "uninstall when absent: says so" said "is not installed: nothing removed"
finish
