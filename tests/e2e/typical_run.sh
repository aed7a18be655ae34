#!/bin/bash
# The typical run: Console on the operator's PC, Agent with the simulated
# two-GPU rig on the watched PC; connect through dialog 139, see the title and
# tabs, the graphs drawn, a CSV log written, the reset when the Agent goes, and
# the Agent served again once restarted.
. "$(dirname "$0")/lib.sh"
require_programs "$CONSOLE_EXE" "$AGENT_EXE" "$UIDRIVER"

start_agent || exit 1
start_console
check "console window appears" console_ready
check "title is the bare product name" title_is_bare 1
check "one tab: $EMPTY_TAB" tabs_are 1 "$EMPTY_TAB"
# The Graphics Clock history's plot area before any reading arrived.
graph=$(inside "$(frame_rect "Graphics Clock 履歴")")
ui stats --rect "$graph" && graph_colours_before=$(ui_value colours)

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

# After some seconds of history the plot holds more colours than its empty grid.
sleep 6
ui stats --rect "$graph"
check "graph drew readings (colours $graph_colours_before -> $(ui_value colours))" \
    test "$(ui_value colours)" -gt "${graph_colours_before:-99}"

csv_log 4
rows=$(grep -c '^[0-9]\{4\}/' "$CSV")
log "CSV: $(wc -l <"$CSV") lines, $rows data rows"
check "CSV has at least 3 data rows of both GPUs (26 commas)" \
    test "$(grep '^[0-9]\{4\}/' "$CSV" | tr -d '\r' | tr -cd ',\n' | grep -cx ',\{26\}')" -ge 3

# The Agent goes away; the Console resets and waits.
t0=$(now_ms)
stop agent
check "title back to the product name" title_is_bare 15
log "figure: agent gone to console reset $(($(now_ms) - t0)) ms"
check "tabs back to one empty tab" tabs_are 1 "$EMPTY_TAB" 10

# The Agent started again on the same PC listens at once and is served again.
start_agent
ms=$(wait_listening pc2 "$ADDR_PC" 60) || fail "restarted agent did not listen"
log "figure: agent start to listening ${ms:-?} ms"
check "reconnect to the restarted Agent" connect "$ADDR_PC"
check "title names the restarted Agent" title_is_connected "$ADDR_PC" 15
check "two tabs again" tabs_are 2 "Example GPU(1) (DP 接続)" 10
check "no message box" ui no-msgbox
check "console alive" alive console
finish
