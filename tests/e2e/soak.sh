#!/bin/bash
# Both programs running and the Console logging CSV for GAUGELINE_SOAK_SECONDS
# (default 600). Samples handle, GDI and USER object counts (as far as Wine
# reports them) and resident memory of both programs every 10 seconds, prints
# them, and fails only on clear growth.
. "$(dirname "$0")/lib.sh"
require_programs "$CONSOLE_EXE" "$AGENT_EXE" "$UIDRIVER"
seconds=${GAUGELINE_SOAK_SECONDS:-600}

start_agent || exit 1
start_console
check "console window appears" console_ready
check "connect" connect "$ADDR_PC"
check "title names the Agent" title_is_connected "$ADDR_PC" 15
mkdir -p "$PREFIX_OP/drive_c/gl"
: >"$PREFIX_OP/drive_c/gl/soak.csv"
check "CSV box checked" ui csv-check --state on
check "save dialog" ui save-dialog --path 'C:\gl\soak.csv' --timeout 20
check "dialog 138" ui csv-dialog --timeout 15

samples=$HOSTS_RUN_DIR/../soak-samples.txt
printf 't_s console_handles console_gdi console_user console_rss_kb agent_handles agent_gdi agent_rss_kb\n' | tee "$samples"
sample() {
    local ch cg cu ah ag
    ui resources >/dev/null
    ch=$(ui_value handles) cg=$(ui_value gdi) cu=$(ui_value user)
    agent_ui resources >/dev/null
    ah=$(ui_value handles) ag=$(ui_value gdi)
    printf '%s %s %s %s %s %s %s %s\n' "$1" "${ch:-?}" "${cg:-?}" "${cu:-?}" "$(rss_kb "$(pid_of console)")" \
        "${ah:-?}" "${ag:-?}" "$(rss_kb "$(pid_of agent)")" | tee -a "$samples"
}
start_s=$SECONDS
while [ $((SECONDS - start_s)) -lt "$seconds" ]; do
    sample $((SECONDS - start_s))
    alive console || { fail "console died during the soak"; break; }
    alive agent || { fail "agent died during the soak"; break; }
    sleep 10
done
sample $((SECONDS - start_s))
check "still connected at the end" title_is_connected "$ADDR_PC" 5
rows=$(grep -c '^[0-9]\{4\}/' "$PREFIX_OP/drive_c/gl/soak.csv")
log "CSV rows written: $rows in $seconds s"
check "about one CSV row a second" test "$rows" -ge $((seconds * 8 / 10))
check "CSV box still on" ui csv-check
check "no message box" ui no-msgbox

# Growth: compare the sample after 30 s of warm-up with the last one.
growth() { # column name, absolute allowance, percent allowance
    awk -v col="$1" -v abs="$2" -v pct="$3" '
        NR == 1 { for (i = 1; i <= NF; i++) if ($i == col) c = i; next }
        $c == "?" || $c == "" { next }
        $1 >= 30 && first == "" { first = $c }
        { last = $c }
        END {
            if (first == "" || first == 0) { printf "%s: no usable samples\n", col; exit 0 }
            d = last - first
            printf "%s: %s -> %s (%+d)\n", col, first, last, d
            exit (d > abs && d > first * pct / 100) ? 1 : 0
        }' "$samples"
}
for limits in "console_handles 50 25" "console_gdi 50 25" "console_user 50 25" "console_rss_kb 30000 50" \
    "agent_handles 50 25" "agent_gdi 50 25" "agent_rss_kb 30000 50"; do
    set -- $limits
    check "no clear growth of $1" growth "$@"
done
finish
