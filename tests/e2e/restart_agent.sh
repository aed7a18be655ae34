#!/bin/bash
# Restarting the Agent while the Console watches: the Console resets and
# waits; after the Agent is back, a new request connects them again.
. "$(dirname "$0")/lib.sh"
require_programs "$CONSOLE_EXE" "$AGENT_EXE" "$UIDRIVER"

start_agent || exit 1
start_console
check "console window appears" console_ready
check "connect" connect "$ADDR_PC"
check "title names the Agent" title_is_connected "$ADDR_PC" 15

for round in 1 2; do
    t0=$(now_ms)
    stop agent
    check "round $round: console resets" title_is_bare 15
    check "round $round: one empty tab" tabs_are 1 "$EMPTY_TAB" 10
    log "figure: round $round agent stopped to console reset $(($(now_ms) - t0)) ms"
    t1=$(now_ms)
    start_agent
    wait_listening pc2 "$ADDR_PC" 60 >/dev/null || fail "round $round: agent did not listen"
    log "figure: round $round agent start to listening $(($(now_ms) - t1)) ms"
    t2=$(now_ms)
    check "round $round: reconnect" connect "$ADDR_PC"
    check "round $round: title names the Agent" title_is_connected "$ADDR_PC" 15
    check "round $round: two tabs" tabs_are 2 "Example GPU(1) (DP 接続)" 10
    log "figure: round $round reconnect to title $(($(now_ms) - t2)) ms; whole recovery $(($(now_ms) - t0)) ms"
done
check "console alive" alive console
check "no message box" ui no-msgbox
finish
