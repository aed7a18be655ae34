#!/bin/bash
# Cutting the watched PC's link and restoring it. At the wire, a 5 s cut (well
# inside the 10 s the Agent gives a Console to take a block): reports resume on
# the same connection as TCP retransmits.
. "$(dirname "$0")/lib.sh"
require_programs "$CONSOLE_EXE" "$AGENT_EXE" "$UIDRIVER"

cut() { ip -n "$NS_PC" link set "$VETH_PC" down; }
restore() { ip -n "$NS_PC" link set "$VETH_PC" up; }

start_agent || exit 1
wait_listening op "$ADDR_PC" 60 >/dev/null || { fail "agent never listened"; finish; }

# 1. At the wire, with the test peer as the Console.
peer op console --to "$ADDR_PC" --blocks 30 --timeout-s 60 --expect-gpus 2 >"$HOSTS_RUN_DIR/fc.out" 2>&1 &
fc=$!
sleep 5
cut
sleep 5
restore
wait $fc
check "wire: the report connection survived the cut (30 valid blocks)" test $? = 0
tail -1 "$HOSTS_RUN_DIR/fc.out" | sed 's/^/    fc> /'
wait_listening op "$ADDR_PC" 15 >/dev/null || fail "wire: agent not listening afterwards"

# 2. Between the real programs, a 20 s cut: the Agent's small send queue
# fills within seconds, so its block send stalls past 10 s and it ends the
# connection and listens again; the Console resets once the link is back and
# the first request afterwards is served.
console_connected "$ADDR_PC"
cut
sleep 20
restore
t_up=$(now_ms)
check "console reset after the link came back" title_is_bare 30
log "figure: real programs: link restored to console reset $(($(now_ms) - t_up)) ms"
check "no message box" ui no-msgbox
check "one request serves again" connect "$ADDR_PC"
check "title names the Agent again" title_is_connected "$ADDR_PC" 15
check "console alive" alive console
check "agent alive" alive agent
finish
