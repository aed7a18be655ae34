#!/bin/bash
# The real Agent's bytes on the wire, checked by the fake Console: every block
# exactly 4096 bytes in the documented layout, the labels of the rig, about one
# block a second. Then bad input on its port 58680: random bytes, silent
# connections, storms of connections; the Agent stays up and serves the next
# Console, and at once after a request naming an address where nothing listens.
. "$(dirname "$0")/lib.sh"
require_programs "$AGENT_EXE"

start_agent || exit 1
ms=$(wait_listening op "$ADDR_PC" 60) || { fail "agent never listened on 58680"; finish; }
log "figure: agent listening ${ms} ms after start (includes Wine start)"

out=$(peer op console --to "$ADDR_PC" --blocks 5 --timeout-s 30 --expect-gpus 2 --expect-label "$ADDR_PC" --dump)
rc=$?
printf '%s\n' "$out" | grep -v '^gpu[0-9]\.' | sed 's/^/    fc> /'
check "5 valid blocks from the Agent" test $rc = 0
val() { printf '%s\n' "$out" | sed -n "s/^$1=//p" | head -1; }
check "slot 0 label" test "$(val gpu0.tabLabel)" = "Example GPU(1) (DP 接続)"
check "slot 1 label" test "$(val gpu1.tabLabel)" = "Example GPU(2) (HDMI 接続)"
check "slot 0 name" test "$(val gpu0.fullName)" = "Example GPU"
check "graphics clock readable" test "$(val gpu0.graphicsClockSupported)" = 1
median=$(printf '%s\n' "$out" | sed -n 's/.*median_interval_ms=\([0-9-]*\).*/\1/p')
log "figure: median block interval ${median} ms"
check "about one block a second" test "${median:-0}" -ge 900 -a "${median:-0}" -le 1300

# The Console left: the Agent's next send fails and it listens again.
ms=$(wait_listening op "$ADDR_PC" 10) || fail "agent did not listen again"
log "figure: agent listening again ${ms} ms after the Console closed"
for mode in random connect storm; do
    wait_listening pc2 "$ADDR_PC" 30 >/dev/null || fail "agent not listening before $mode"
    t0=$(now_ms)
    args=(--count 30)
    [ $mode = storm ] && args=(--count 1000 --connect-ms 200)
    peer op $mode --to "$ADDR_PC" "${args[@]}" | tail -1 | sed 's/^/    bl> /'
    log "$mode took $(($(now_ms) - t0)) ms"
    check "agent alive after $mode" alive agent
done
wait_listening op "$ADDR_PC" 30 >/dev/null || fail "agent not listening after bad input"
out=$(peer pc2 console --to "$ADDR_PC" --blocks 2 --timeout-s 20 --expect-label "$ADDR_PC")
check "a second Console (192.0.2.21) is served after bad input" test $? = 0
printf '%s\n' "$out" | tail -1 | sed 's/^/    fc> /'

# While reporting, a request finds no listener.
wait_listening op "$ADDR_PC" 15 >/dev/null
peer pc2 console --to "$ADDR_PC" --blocks 8 --timeout-s 20 >"$HOSTS_RUN_DIR/fc-long.out" 2>&1 &
fc=$!
for _ in $(seq 100); do
    grep -q 'block 1 ok' "$HOSTS_RUN_DIR/fc-long.out" && break
    sleep 0.1
done
check "third Console is being served" grep -q 'block 1 ok' "$HOSTS_RUN_DIR/fc-long.out"
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
check "agent alive" alive agent
finish
