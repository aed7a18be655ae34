#!/bin/bash
# Figures, not assertions: the Console's CPU time per minute while connected
# to an Agent with 8 GPUs, first not logging, then logging every GPU and item
# every second (CPU of the Wine process from /proc/<pid>/stat).
. "$(dirname "$0")/lib.sh"
require_programs "$CONSOLE_EXE" "$UIDRIVER" "$GL_PEERS/gl-fake-agent" "$GL_PEERS/gl-fake-console" "$GL_PEERS/gl-blaster"
window=${GAUGELINE_CPU_SECONDS:-60}
hz=$(getconf CLK_TCK)

start_peer fake-agent pc gl-fake-agent --gpus 8
start_console
check "console window appears" console_ready
check "connect" connect "$ADDR_PC"
check "title names the Agent" title_is_connected "$ADDR_PC" 15
check "eight tabs" tabs_are 8 "Example GPU(1) (DP 接続)" 10
pid=$(pid_of console)

measure() { # seconds -> CPU ms per minute
    local a b
    a=$(cpu_ticks "$pid")
    sleep "$1"
    b=$(cpu_ticks "$pid")
    echo $(((b - a) * 1000 * 60 / hz / $1))
}
sleep 5
idle=$(measure "$window")
log "figure: console CPU connected, not logging: ${idle} ms per minute"

mkdir -p "$PREFIX_OP/drive_c/gl"
: >"$PREFIX_OP/drive_c/gl/cpu.csv"
check "CSV box checked" ui csv-check --state on
check "save dialog" ui save-dialog --path 'C:\gl\cpu.csv' --timeout 20
check "dialog 138 with 8 GPUs" ui csv-dialog --timeout 15
check "all 8 GPU boxes enabled" test "$(ui_value gpu7 | sed 's/.*enabled=//')" = 1
sleep 3
logging=$(measure "$window")
log "figure: console CPU logging 8 GPUs every second: ${logging} ms per minute"
if [ "$idle" -gt 0 ]; then
    log "figure: ratio logging / not logging = $(awk -v a="$logging" -v b="$idle" 'BEGIN { printf "%.1f", a / b }')"
fi
rows=$(grep -c '^[0-9]\{4\}/' "$PREFIX_OP/drive_c/gl/cpu.csv")
log "CSV rows: $rows, commas per row: $(grep -m1 '^[0-9]\{4\}/' "$PREFIX_OP/drive_c/gl/cpu.csv" | tr -cd , | wc -c)"
check "rows were written" test "$rows" -gt 0
check "console alive" alive console
finish
