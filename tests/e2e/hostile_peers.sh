#!/bin/bash
# The Agent's port against its peers. Argument: windows (the Agent under Wine,
# default) or linux (gaugeline-agent natively).
# The bytes on the wire, checked by the fake Console: every block exactly 4096
# bytes in the documented layout, the labels of the rig, about one block a
# second; no connection taken while reporting; after a request naming an
# address where nothing listens, the next request is taken at once.
# Then peers that attack from a second address of the operator's PC, one after
# another: a Console that takes the report connection and never reads, a
# garbage request every 0.5 s, a request naming an address that never answers
# every 5 s, 30 silent connections a second. Meanwhile a good Console at the
# real Console's pace (connect, 1 s of silence, the request; again every 3 s)
# is served within its limit. The Linux Agent must also end with 0 within 2 s
# of SIGTERM while a Console stalls it.
. "$(dirname "$0")/lib.sh"
kind=${1:-windows}
HOSTILE=192.0.2.6
SILENT=192.0.2.99 # the address silent-address requests name

if [ "$kind" = linux ]; then
    LINUX_AGENT=$GL_NATIVE/bin/gaugeline-agent
    require_programs "$LINUX_AGENT" "$GL_NATIVE/sim/linux/libnvidia-ml.so.1"
    LD_LIBRARY_PATH=$GL_NATIVE/sim/linux GAUGELINE_SIM_SCENARIO=$GL_SIM_SCENARIOS/linux_gpus.scenario \
        start agent pc "$LINUX_AGENT"
    connectors=(UNKNOWN UNKNOWN)
else
    require_programs "$AGENT_EXE"
    start_agent || exit 1
    connectors=(DP HDMI)
fi
ms=$(wait_listening op "$ADDR_PC" 60) || { fail "agent never listened on 58680"; finish; }
log "figure: agent listening ${ms} ms after start"

out=$(peer op console --to "$ADDR_PC" --blocks 5 --timeout-s 30 --expect-gpus 2 --expect-label "$ADDR_PC" --dump)
rc=$?
printf '%s\n' "$out" | grep -v '^gpu[0-9]\.' | sed 's/^/    fc> /'
check "5 valid blocks from the Agent" test $rc = 0
val() { printf '%s\n' "$out" | sed -n "s/^$1=//p" | head -1; }
check "slot 0 label" test "$(val gpu0.tabLabel)" = "Example GPU(1) (${connectors[0]} 接続)"
check "slot 1 label" test "$(val gpu1.tabLabel)" = "Example GPU(2) (${connectors[1]} 接続)"
check "slot 0 name" test "$(val gpu0.fullName)" = "Example GPU"
check "graphics clock readable" test "$(val gpu0.graphicsClockSupported)" = 1
median=$(printf '%s\n' "$out" | sed -n 's/.*median_interval_ms=\([0-9-]*\).*/\1/p')
log "figure: median block interval ${median} ms"
check "about one block a second" test "${median:-0}" -ge 900 -a "${median:-0}" -le 1300

# While reporting (to a Console on the second watched PC), a request finds no listener.
wait_listening op "$ADDR_PC" 15 >/dev/null || fail "agent did not listen again"
peer pc2 console --to "$ADDR_PC" --blocks 8 --timeout-s 20 >"$HOSTS_RUN_DIR/fc-long.out" 2>&1 &
fc=$!
check "a Console on 192.0.2.21 is being served" wait_for 10 grep -q 'block 1 ok' "$HOSTS_RUN_DIR/fc-long.out"
if port_open op "$ADDR_PC"; then
    fail "agent accepted a connection while reporting"
else
    log "ok: connection refused while reporting"
fi
wait $fc

# A request naming an address where nothing listens (the operator's PC): the
# Agent's connect back is refused, and it must take the next request at once
# rather than after its 5 s connect time-out. The request goes in one write,
# so that one receive brings all 20 bytes.
wait_listening pc2 "$ADDR_PC" 15 >/dev/null || fail "agent not listening before the refused connect back"
pad=$(printf '\\0%.0s' $(seq $((20 - ${#ADDR_OP}))))
check "request naming $ADDR_OP sent" "$HOST_RUN" op bash -c 'exec 3<>"/dev/tcp/$1/$4" && printf "%s$2" "$3" >&3' \
    _ "$ADDR_PC" "$pad" "$ADDR_OP" "$GL_PORT"
out=$(peer pc2 console --to "$ADDR_PC" --blocks 1 --timeout-s 15)
ms=$(printf '%s\n' "$out" | sed -n 's/.*after_request_ms=\([0-9]*\).*/\1/p')
log "figure: after the refused connect back, the next request was answered in ${ms:-never} ms"
check "the next request answered within 1.5 s" test "${ms:-99999}" -le 1500

bridge=$(ip -n "$NS_OP" -o -4 addr show | awk -v a="$ADDR_OP/24" '$4 == a {print $2}')
ip -n "$NS_OP" addr add "$HOSTILE/24" dev "$bridge" || { fail "second address on the operator's PC"; finish; }
# The silent address is known to the watched PC (as a machine that was there
# a moment ago) but nothing answers: a connect to it waits, not refused and
# not failed when the address finds no owner.
ip -n "$NS_PC" neigh add "$SILENT" lladdr 02:00:00:00:00:99 dev "$VETH_PC" nud permanent
t0=$(now_ms)
"$HOST_RUN" pc timeout 6 bash -c "exec 3<>/dev/tcp/$SILENT/$GL_PORT" 2>/dev/null
waited=$(($(now_ms) - t0))
check "a connect to $SILENT waits ($waited ms) rather than being refused" test $waited -ge 5000

good_console() { # limit in seconds
    local out
    out=$(peer op good --to "$ADDR_PC" --own "$ADDR_OP" --limit "$1")
    local rc=$?
    log "good console: $out"
    return $rc
}
start_hostile() { # label mode [args...]
    local label=$1
    shift
    start_peer "$label" op "$@" --to "$ADDR_PC" --own "$HOSTILE"
}
taken_within() { wait_for "$1" grep -qx taken "$HOSTS_RUN_DIR/stall.out"; } # seconds

start_hostile stall stall
if taken_within 30; then
    t0=$(now_ms)
    check "stalled: a good Console is served within 30 s of the report connection" good_console 30
    log "figure: served $(($(now_ms) - t0)) ms after the stalling peer took the report connection"
else
    fail "the stalling peer never got the report connection"
fi
stop stall

for attack in "garbage 30" "silent-address 30" "flood 5"; do
    read -r mode limit <<<"$attack"
    # The last report connection ended: the Agent listens again before the attack.
    wait_listening pc2 "$ADDR_PC" 10 >/dev/null || fail "agent not listening before $mode"
    start_hostile "$mode" "$mode"
    sleep 2
    t0=$(now_ms)
    check "$mode: a good Console is served within $limit s" good_console "$limit"
    log "figure: $mode: served after $(($(now_ms) - t0)) ms"
    stop "$mode"
done
check "agent alive" alive agent

if [ "$kind" = linux ]; then
    # In the field a stalled send waits once the system's send queue is full,
    # minutes in; with the watched PC's queues capped at 8 KiB that comes
    # within seconds.
    ip netns exec "$NS_PC" bash -c 'echo "4096 8192 8192" >/proc/sys/net/ipv4/tcp_wmem'
    start_hostile stall stall
    if taken_within 30; then
        sleep 8
        kill -TERM "$(pid_of agent)"
        wait_exit agent 2
        check "stalled agent exits with 0 within 2 s of SIGTERM (got $EXIT_CODE)" test "$EXIT_CODE" = 0
    else
        fail "the stalling peer never got the report connection again"
    fi
    stop stall
    sed 's/^/    agent> /' "$HOSTS_RUN_DIR/agent.out"
fi
finish
