#!/bin/bash
# Bad input on the Agent's port 58680: random bytes, partial and oversized
# requests, requests naming unusable addresses, 1000 connections; the Agent
# stays up and serves a good Console afterwards.
. "$(dirname "$0")/lib.sh"
require_programs "$AGENT_EXE"

start_agent || exit 1
wait_listening op "$ADDR_PC" 60 >/dev/null || { fail "agent never listened"; finish; }
for mode in random partial oversized bad-address connect flood; do
    ms=$(wait_listening pc2 "$ADDR_PC" 30) || fail "agent not listening before $mode"
    log "agent listening (${ms} ms wait) before $mode"
    t0=$(now_ms)
    args=(--count 30)
    [ $mode = flood ] && args=(--count 1000 --connect-ms 200)
    peer op $mode --to "$ADDR_PC" "${args[@]}" | tail -1 | sed 's/^/    bl> /'
    log "blaster $mode took $(($(now_ms) - t0)) ms"
    check "agent alive after $mode" alive agent
done

ms=$(wait_listening op "$ADDR_PC" 30) || fail "agent not listening after bad input"
log "figure: agent listening again ${ms} ms after the last bad input"
out=$(peer op console --to "$ADDR_PC" --blocks 3 --timeout-s 30 --expect-gpus 2 --expect-label "$ADDR_PC")
check "a good Console is served after bad input" test $? = 0
printf '%s\n' "$out" | tail -1 | sed 's/^/    fc> /'
check "agent alive" alive agent
finish
