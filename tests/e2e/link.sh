#!/bin/bash
# The watched PC's link, slow and cut. At the wire, a 5 s cut (well inside the
# 10 s the Agent gives a Console to take a block): reports resume on the same
# connection as TCP retransmits. Between the real programs, the link shaped to
# 1 Mbit/s (as a VPN or a busy Wi-Fi is), so that every report reaches the
# Console in several pieces: the Console shows the Agent within seconds of the
# request and keeps showing it. Then a 20 s cut: the Agent's small send queue
# fills within seconds, so its block send stalls past 10 s and it ends the
# connection and listens again; the Console resets once the link is back and
# the first request afterwards is served.
. "$(dirname "$0")/lib.sh"
require_programs "$CONSOLE_EXE" "$AGENT_EXE" "$UIDRIVER"

cut() { ip -n "$NS_PC" link set "$VETH_PC" down; }
restore() { ip -n "$NS_PC" link set "$VETH_PC" up; }

start_agent || exit 1
wait_listening op "$ADDR_PC" 60 >/dev/null || { fail "agent never listened"; finish; }
peer op console --to "$ADDR_PC" --blocks 30 --timeout-s 60 --expect-gpus 2 >"$HOSTS_RUN_DIR/fc.out" 2>&1 &
fc=$!
sleep 5
cut
sleep 5
restore
wait $fc
check "wire: the report connection survived the cut (30 valid blocks)" test $? = 0
tail -1 "$HOSTS_RUN_DIR/fc.out" | sed 's/^/    fc> /'

start_console
check "console window appears" console_ready
check "link shaped to 1 Mbit/s" ip netns exec "$NS_PC" \
    tc qdisc add dev "$VETH_PC" root tbf rate 1mbit burst 1600 latency 400ms
wait_listening pc2 "$ADDR_PC" 15 >/dev/null || fail "agent not listening after the wire cut"
check "connect over the slow link" connect "$ADDR_PC"
t1=$(now_ms)
if ! title_is_connected "$ADDR_PC" 5; then
    fail "title names the Agent within 5 s of the request"
    finish
fi
t2=$(now_ms)
log "figure: slow link: dialog closed to title $((t2 - t1)) ms"
# Any reset would leave the bare title for good (no new request is sent).
polls=0
while [ $(($(now_ms) - t2)) -lt 20000 ]; do
    polls=$((polls + 1))
    title_is_connected "$ADDR_PC" 0 >/dev/null || { fail "title lost the Agent after $(($(now_ms) - t2)) ms"; break; }
    sleep 0.5
done
log "title checked $polls times over 20 s"
check "two tabs" tabs_are 2 "Example GPU(1) (DP 接続)" 5

ip netns exec "$NS_PC" tc qdisc del dev "$VETH_PC" root
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
