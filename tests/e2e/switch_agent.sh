#!/bin/bash
# Switching the Console to a second Agent while the first reports: the Console
# drops the first within the 2-second pause and serves the second; the first
# Agent goes back to waiting and serves the next request.
. "$(dirname "$0")/lib.sh"
require_programs "$CONSOLE_EXE" "$AGENT_EXE" "$UIDRIVER"

start_agent || exit 1
console_connected "$ADDR_PC"
check "two tabs" tabs_are 2 "Example GPU(1) (DP 接続)"

# The second Agent: the fake one on 192.0.2.21 with one GPU.
start_fake_agent second pc2 --gpus 1 || fail "the second Agent did not listen"
t0=$(now_ms)
check "connect to the second Agent" connect "$ADDR_PC2"
check "title names the second Agent" title_is_connected "$ADDR_PC2" 15
log "figure: switch (dialog pressed to new title) $(($(now_ms) - t0)) ms"
check "one tab of the second Agent" tabs_are 1 "Example GPU (DP 接続)" 10
check "console alive" alive console

# The first Agent noticed the dropped connection and listens again.
ms=$(wait_listening pc2 "$ADDR_PC" 15) || fail "first agent did not listen again"
log "figure: first Agent listening again ${ms} ms after the switch completed"
stop second
check "reset when the second Agent goes" title_is_bare 15
check "switch back to the first Agent" connect "$ADDR_PC"
check "title names the first Agent again" title_is_connected "$ADDR_PC" 15
check "agent alive" alive agent
finish
