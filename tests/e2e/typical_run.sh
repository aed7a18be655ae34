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
ui stats && white_before=$(ui_value white)
# The Graphics Clock history frame: its plot area before any reading arrived.
frame_rect() { # frame text -> x,y,w,h of its inside
    ui controls >/dev/null
    local r
    r=$(printf '%s\n' "$UI_OUT" | grep "text=$1\$" | sed -n 's/.*rect=\([0-9,-]*\).*/\1/p' | head -1)
    [ -n "$r" ] || return 1
    IFS=, read -r fx fy fw fh <<<"$r"
    echo "$((fx + 8)),$((fy + 16)),$((fw - 16)),$((fh - 24))"
}
graph=$(frame_rect "Graphics Clock 履歴")
info=$(frame_rect "GPU インフォメーション")
log "graph inside $graph, readout inside $info"
ui stats --rect "$graph" && graph_colours_before=$(ui_value colours)
ui stats --rect "$info" && info_nonwhite_before=$(ui_value nonwhite)

check "agent window appears" agent_ui wait --timeout 30
red=$(agent_link_red)
check "agent shows the broken link before a Console asks (red pixels: $red)" test "$red" -gt 0

t0=$(now_ms)
check "dialog 139 sends the request" connect "$ADDR_PC"
check "title names the Agent" title_is_connected "$ADDR_PC" 15
log "figure: request to title extended $(($(now_ms) - t0)) ms"
check "two tabs, first 'Example GPU(1) (DP 接続)'" tabs_are 2 "Example GPU(1) (DP 接続)"
check "second tab 'Example GPU(2) (HDMI 接続)'" test "$(tab_label 1)" = "Example GPU(2) (HDMI 接続)"
check "agent still alive" alive agent
red=$(agent_link_red)
check "agent shows the whole link while reporting (red pixels: $red)" test "$red" = 0

# Graphs: after some seconds of history the plot holds more colours than its
# empty grid; the readout panel holds more text than "No Support" lines.
sleep 6
if [ -n "$graph" ]; then
    ui stats --rect "$graph"
    check "graph drew readings (colours $graph_colours_before -> $(ui_value colours))" \
        test "$(ui_value colours)" -gt "${graph_colours_before:-99}"
    ui stats --rect "$info"
    check "readout panel changed (non-white $info_nonwhite_before -> $(ui_value nonwhite))" \
        test "$(ui_value nonwhite)" != "${info_nonwhite_before:-x}"
else
    fail "no 'Graphics Clock 履歴' frame found"
fi
ui stats
check "client area changed after connecting" test "$(ui_value white)" != "${white_before:-x}"
ui pixels --bmp 'C:\connected.bmp' >/dev/null
cp "$PREFIX_OP/drive_c/connected.bmp" "$HOSTS_RUN_DIR/../typical_run.bmp" 2>/dev/null

# Tab switch
check "selecting tab 2 works" ui select-tab --index 1

# CSV logging: the save dialog needs an existing file (file-must-exist option).
mkdir -p "$PREFIX_OP/drive_c/gl"
: >"$PREFIX_OP/drive_c/gl/log.csv"
check "CSV box checked" ui csv-check --state on
check "save dialog answered" ui save-dialog --path 'C:\gl\log.csv' --timeout 20
check "dialog 138 offers both GPUs" ui csv-dialog --timeout 15
check "dialog 138 slot 0 label" test "$(ui_value gpu0)" = "Example GPU(1) (DP 接続) checked=1 enabled=1"
check "dialog 138 slot 2 disabled" test "$(ui_value gpu2 | sed 's/.*enabled=//')" = 0
sleep 4
check "CSV box unchecked" ui csv-check --state off
sleep 2
csv=$PREFIX_OP/drive_c/gl/log.csv
rows=$(grep -c '^[0-9]\{4\}/' "$csv" 2>/dev/null)
log "CSV: $(wc -l <"$csv") lines, $rows data rows"
head -c 600 "$csv" | iconv -f CP932 -t UTF-8 2>/dev/null | sed 's/^/    csv> /'
check "CSV header line 1: name, 13 commas, name" grep -q "^Example GPU$(printf ',%.0s' $(seq 13))Example GPU" "$csv"
check "CSV header line 2" grep -q '^,Graphics Clock,Memory Clock,GPU Load,Memory Usage,Video Engine Load,Temperature,FAN Level,FAN rpm,Power Draw,P-State,Memory Controller Load,Bus Interface Load,,Graphics Clock' "$csv"
check "CSV has at least 3 data rows" test "${rows:-0}" -ge 3
check "CSV lines end with CR LF" test "$(head -1 "$csv" | tail -c 2 | od -An -tx1 | tr -d ' ')" = 0d0a
check "CSV data row has 26 commas (2 GPUs x 13)" test "$(grep -m1 '^[0-9]\{4\}/' "$csv" | tr -d '\r' | tr -cd , | wc -c)" = 26

# Step 7: the Agent goes away; the Console resets and waits.
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
