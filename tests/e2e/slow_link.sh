#!/bin/bash
# The watched PC's link shaped to 1 Mbit/s (as a VPN or a busy Wi-Fi is):
# every report reaches the Console in several pieces. The Console shows the
# Agent within seconds of the request and keeps showing it.
. "$(dirname "$0")/lib.sh"
require_programs "$CONSOLE_EXE" "$AGENT_EXE" "$UIDRIVER"

start_console
check "console window appears" console_ready
check "link shaped to 1 Mbit/s" ip netns exec "$NS_PC" \
    tc qdisc add dev "$VETH_PC" root tbf rate 1mbit burst 1600 latency 400ms
t0=$(now_ms)
start_agent || exit 1
wait_listening pc2 "$ADDR_PC" 60 >/dev/null || { fail "agent never listened"; finish; }
check "connect" connect "$ADDR_PC"
t1=$(now_ms)
if ! title_is_connected "$ADDR_PC" 5; then
    fail "title names the Agent within 5 s of the request"
    finish
fi
t2=$(now_ms)
log "figure: agent start to title $((t2 - t0)) ms (dialog closed to title $((t2 - t1)) ms)"

# Any reset would leave the bare title for good (no new request is sent).
polls=0
while [ $(($(now_ms) - t2)) -lt 20000 ]; do
    polls=$((polls + 1))
    title_is_connected "$ADDR_PC" 0 >/dev/null || { fail "title lost the Agent after $(($(now_ms) - t2)) ms"; break; }
    sleep 0.5
done
log "title checked $polls times over 20 s"
check "two tabs" tabs_are 2 "Example GPU(1) (DP 接続)" 5
check "console alive" alive console
finish
