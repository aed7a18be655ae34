#!/bin/bash
# The unchanged Windows Console watching the Linux Agent: the Agent runs
# natively on the watched PC against the simulated NVML library, the Console
# under Wine on the operator's PC. Title, tabs, the readout panel, the clock
# graphs of a board without rated clocks and the values the Console logs; the
# Agent's status lines and its exit on SIGTERM.
. "$(dirname "$0")/lib.sh"
LINUX_AGENT=$GL_NATIVE/bin/gaugeline-agent
require_programs "$CONSOLE_EXE" "$UIDRIVER" "$LINUX_AGENT" "$GL_NATIVE/sim/linux/libnvidia-ml.so.1"

status_line() { wait_for "${2:-10}" grep -qxF "$1" "$HOSTS_RUN_DIR/agent.out"; } # text, seconds

LD_LIBRARY_PATH=$GL_NATIVE/sim/linux GAUGELINE_SIM_SCENARIO=$GL_SIM_SCENARIOS/linux_gpus.scenario \
    start agent pc "$LINUX_AGENT"
check "agent says it listens" status_line "listening on 58680"
start_console
check "console window appears" console_ready
info="GPU インフォメーション" gfx="Graphics Clock 履歴" mem="Memory Clock 履歴"
ui stats --frame "$info" && blank=$(ui_value nonwhite)
ui stats --frame "$gfx" && gfx_colours=$(ui_value colours)

# A second address on the watched PC, after its first: the system would send
# from the first, but the Console accepts only the address it typed.
SECOND=192.0.2.40
ip -n "$NS_PC" addr add "$SECOND/24" dev "$VETH_PC"
check "dialog 139 sends the request to the second address" connect "$SECOND"
check "title names the Linux Agent by the address the Console typed" title_is_connected "$SECOND" 15
check "agent says whom it reports to" status_line "reporting to $ADDR_OP"
check "two tabs, first 'Example GPU(1) (UNKNOWN 接続)'" tabs_are 2 "Example GPU(1) (UNKNOWN 接続)"
check "second tab 'Example GPU(2) (UNKNOWN 接続)'" test "$(tab_label 1)" = "Example GPU(2) (UNKNOWN 接続)"
sleep 3
ui stats --frame "$info"
check "readout panel shows readings (non-white $blank -> $(ui_value nonwhite))" test "$(ui_value nonwhite)" -gt "${blank:-0}"

# GPU 0 has no rated clocks. Its Graphics Clock bars are green on the graph's
# scale (2520 MHz), none of them orange; its Memory Clock bars reach 7000 of
# 10501 MHz, so the top rows of that graph (from y 49, the full bar's top) hold
# no bar.
ui stats --frame "$gfx"
check "Graphics Clock bars drawn (colours $gfx_colours -> $(ui_value colours)), none orange (reddish $(ui_value reddish))" \
    test "$(ui_value colours)" -gt "${gfx_colours:-99}" -a "$(ui_value reddish)" = 0
ui stats --frame "$mem" && mem_blue=$(ui_value bluish)
IFS=, read -r mx _ mw _ <<<"$(ui_value rect)"
ui stats --rect "$mx,49,$mw,16"
check "Memory Clock bars drawn ($mem_blue blue pixels), none in the graph's top 16 rows ($(ui_value bluish))" \
    test "${mem_blue:-0}" -gt 0 -a "$(ui_value bluish)" = 0

# The values as the Console holds them: its CSV log of both GPUs (readings
# the scenario leaves out have the simulation's defaults: video engine 5 %,
# memory controller 20 %, fan 40 % at 1500 rpm).
CSV=$PREFIX_OP/drive_c/gl/log.csv
mkdir -p "${CSV%/*}"
: >"$CSV"
check "CSV box checked" ui csv-check --state on
check "save dialog answered" ui save-dialog --path 'C:\gl\log.csv' --timeout 20
check "dialog 138 offers the GPUs" ui csv-dialog --timeout 15
sleep 4
check "CSV box unchecked" ui csv-check --state off
sleep 1
row=$(grep -m1 '^[0-9]\{4\}/' "$CSV" | tr -d '\r' | sed 's/^[0-9/]* [0-9:]*,//; s/,[0-9/]* [0-9:]*,/ | /')
log "CSV row: $row"
check "CSV row carries the scenario's readings" test "$row" = \
    "1500,7000,60,2048.00,12,55,40,1500,120.000,2,30,0 | 900,5000,5,512.00,5,41,40,1500,30.000,8,20,0,"

stop console
check "agent says the link is lost" status_line "connection lost, listening again" 10
pid=$(pid_of agent)
kill -TERM "$pid"
wait_exit agent 10
check "agent exits with 0 on SIGTERM (got $EXIT_CODE)" test "$EXIT_CODE" = 0
check "agent said it stops" status_line "stopping" 1
sed 's/^/    agent> /' "$HOSTS_RUN_DIR/agent.out"
finish
