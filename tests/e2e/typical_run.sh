#!/bin/bash
# The typical run: Console on the operator's PC, Agent with the simulated
# two-GPU rig on the watched PC. Connect through dialog 139: the title, the
# tabs and the Agent's link picture. Switching to a second Agent while the
# first reports: the Console drops the first within the 2-second pause and
# serves the second; the first goes back to waiting. The reset when an Agent
# goes. The Console closed and killed while the Agent reports: the Agent
# notices, listens again and serves the new Console. A second Console while
# one runs ends at once.
. "$(dirname "$0")/lib.sh"
require_programs "$CONSOLE_EXE" "$AGENT_EXE" "$UIDRIVER"

start_agent || exit 1
start_console
check "console window appears" console_ready
check "title is the bare product name" title_is_bare 1
check "one tab: $EMPTY_TAB" tabs_are 1 "$EMPTY_TAB"
check "agent window appears" agent_ui title --timeout 30
red=$(agent_link_red)
check "agent shows the broken link before a Console asks (red pixels: $red)" test "$red" -gt 0

t0=$(now_ms)
check "dialog 139 sends the request" connect "$ADDR_PC"
check "title names the Agent" title_is_connected "$ADDR_PC" 15
log "figure: request to title extended $(($(now_ms) - t0)) ms"
check "two tabs, first 'Example GPU(1) (DP 接続)'" tabs_are 2 "Example GPU(1) (DP 接続)"
check "second tab 'Example GPU(2) (HDMI 接続)'" test "$(tab_label 1)" = "Example GPU(2) (HDMI 接続)"
red=$(agent_link_red)
check "agent shows the whole link while reporting (red pixels: $red)" test "$red" = 0

# The second Agent: the fake one on 192.0.2.21 with one GPU.
start_fake_agent second pc2 || fail "the second Agent did not listen"
t0=$(now_ms)
check "connect to the second Agent" connect "$ADDR_PC2"
check "title names the second Agent" title_is_connected "$ADDR_PC2" 15
log "figure: switch (dialog pressed to new title) $(($(now_ms) - t0)) ms"
check "one tab of the second Agent" tabs_are 1 "Example GPU (DP 接続)" 10
ms=$(wait_listening pc2 "$ADDR_PC" 15) || fail "first agent did not listen again"
log "figure: first Agent listening again ${ms} ms after the switch completed"
stop second
check "reset when the second Agent goes" title_is_bare 15
check "tabs back to one empty tab" tabs_are 1 "$EMPTY_TAB" 10
check "switch back to the first Agent" connect "$ADDR_PC"
check "title names the first Agent again" title_is_connected "$ADDR_PC" 15

# Closed through its window, then killed outright.
for how in close kill; do
    t0=$(now_ms)
    if [ $how = close ]; then
        check "console closes on WM_CLOSE" ui close --timeout 10
        wait_exit console 10
        check "console exit code 0 after close" test "$EXIT_CODE" = 0
    else
        stop console
    fi
    ms=$(wait_listening pc2 "$ADDR_PC" 15) || fail "$how: agent did not listen again"
    log "figure: console ${how} to agent listening $(($(now_ms) - t0)) ms"
    check "$how: agent alive" alive agent
    red=$(agent_link_red)
    check "$how: agent shows the broken link again (red pixels: $red)" test "$red" -gt 0
    t1=$(now_ms)
    console_connected "$ADDR_PC"
    log "figure: console ${how}: restart to connected $(($(now_ms) - t1)) ms; whole recovery $(($(now_ms) - t0)) ms"
done

# A second Console while one runs ends at once, showing nothing.
start console2 op "$CONSOLE_EXE"
wait_exit console2 20
check "second Console instance exits with 0 (got $EXIT_CODE)" test "$EXIT_CODE" = 0
check "first Console still serving" title_is_connected "$ADDR_PC" 2
check "no message box" ui no-msgbox
finish
