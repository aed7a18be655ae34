#!/bin/bash
# Peers that attack the Agent's port from a second address of the operator's
# PC, one after another: a Console that takes the report connection and never
# reads, a garbage request every 0.5 s, a request naming an address that never
# answers every 5 s, 30 silent connections a second. Meanwhile a good Console
# at the real Console's pace (connect, 1 s of silence, the request; again
# every 3 s) is served within its limit. Argument: windows (the Agent under
# Wine, default) or linux (gaugeline-agent natively, which must also end with
# 0 within 2 s of SIGTERM while a Console stalls it).
. "$(dirname "$0")/lib.sh"
kind=${1:-windows}
HOSTILE=192.0.2.6
SILENT=192.0.2.99 # the address silent-address requests name

if [ "$kind" = linux ]; then
    LINUX_AGENT=$GL_NATIVE/bin/gaugeline-agent
    require_programs "$LINUX_AGENT" "$GL_NATIVE/sim/linux/libnvidia-ml.so.1"
    LD_LIBRARY_PATH=$GL_NATIVE/sim/linux GAUGELINE_SIM_SCENARIO=$GL_SIM_SCENARIOS/linux_gpus.scenario \
        start agent pc "$LINUX_AGENT"
else
    require_programs "$AGENT_EXE"
    start_agent || exit 1
fi
bridge=$(ip -n "$NS_OP" -o -4 addr show | awk -v a="$ADDR_OP/24" '$4 == a {print $2}')
ip -n "$NS_OP" addr add "$HOSTILE/24" dev "$bridge" || { fail "second address on the operator's PC"; finish; }
wait_listening op "$ADDR_PC" 60 >/dev/null || { fail "agent never listened"; finish; }

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
