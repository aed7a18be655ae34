#!/bin/bash
# An Agent and a Console on the same PC: the Agent got port 58680 first, so the
# Console must leave it to the Agent, which then serves Consoles elsewhere one
# after another. "接続" on that Console says it cannot listen and asks no one.
. "$(dirname "$0")/lib.sh"
require_programs "$CONSOLE_EXE" "$AGENT_EXE" "$UIDRIVER"

# gl-uidriver beside the Console on the watched PC.
pc_ui() { ui_on pc pc-ui "$@"; }

start_agent || exit 1
wait_listening op "$ADDR_PC" 60 >/dev/null || { fail "agent never listened on 58680"; finish; }
start console pc "$CONSOLE_EXE"
check "console window appears beside the agent" pc_ui title --timeout 60

out=$(peer op console --to "$ADDR_PC" --blocks 2 --timeout-s 20 --expect-label "$ADDR_PC")
check "a Console elsewhere (192.0.2.5) is served" test $? = 0
printf '%s\n' "$out" | tail -1 | sed 's/^/    fc> /'

# That Console left; every later request from elsewhere is answered.
for n in 1 2; do
    ms=$(wait_listening pc2 "$ADDR_PC" 15) || fail "nothing listens on the watched PC"
    log "figure: port 58680 of the watched PC listening ${ms:-never} ms after the previous Console left"
    out=$(peer pc2 console --to "$ADDR_PC" --blocks 1 --timeout-s 15)
    printf '%s\n' "$out" | grep -E 'request|accepted|refused|no report' | sed 's/^/    fc> /'
    ms=$(printf '%s\n' "$out" | sed -n 's/^accepted peer=.* after_request_ms=\([0-9]*\).*/\1/p')
    log "figure: later request $n answered ${ms:-never} ms after it was sent"
    check "later request $n answered within 5 s" test "${ms:-99999}" -le 5000
done

# "接続" while the Agent holds the port: the message over the dialog, which
# stays open, and no connection at the Agent that was typed.
wait_listening pc2 "$ADDR_PC" 15 >/dev/null || fail "the agent did not listen again"
start_fake_agent fa pc2 || fail "the fake Agent did not listen"
pc_ui connect --address "$ADDR_PC2" --wait 20
check "message: cannot listen" test "$(ui_value text)" = "ポート 58680 を受信に使えません"
check "dialog 139 still open" test "$(ui_value dialog)" = open
sleep 1
check "no connection reached the typed Agent" test "$(grep -c request "$HOSTS_RUN_DIR/fa.out")" = 0
check "console alive" alive console
check "agent alive" alive agent
finish
