#!/bin/bash
# The Console against a fake Agent and bad input: the example rig's labels
# arrive; malformed blocks from the right address, random bytes and 1000
# connections from wrong addresses change nothing and crash nothing; a good
# Agent is served afterwards.
. "$(dirname "$0")/lib.sh"
require_programs "$CONSOLE_EXE" "$UIDRIVER"

start_console
check "console window appears" console_ready

# Before any address is typed, every connection is closed unread.
peer pc blocks --to "$ADDR_OP" | sed 's/^/    bl> /'
check "title unchanged before an address is typed" title_is_bare 1
check "still one empty tab" tabs_are 1 "$EMPTY_TAB" 2

# Addresses that cannot be served: all boxes empty, and a host with no
# listener. Both end in the failure message over the dialog.
for address in "..." "$ADDR_PC2"; do
    t0=$(now_ms)
    ui connect --address "$address" --wait 20
    check "connect to '$address' fails" test "$(ui_value result)" = failed
    check "failure message for '$address'" test "$(ui_value text)" = "接続出来ませんでした"
    log "figure: failed request to '$address' took $(($(now_ms) - t0)) ms"
done
check "title bare after failed requests" title_is_bare 1
check "one empty tab after failed requests" tabs_are 1 "$EMPTY_TAB" 2

# A fake Agent that opens with every kind of malformed block, then good ones.
start_fake_agent fake-agent pc --gpus 2 --bad-first 14 || fail "the fake Agent did not listen"
check "dialog 139 sends the request" connect "$ADDR_PC"
# The first parsed block of a connection names the Agent in the title, even a
# malformed one; later blocks of that connection leave the title alone.
check "title extended on that connection" ui title --contains "$TITLE ===> [Agent: " --wait 40
check "tabs of the fake rig once good blocks follow the 14 bad ones" tabs_are 2 "Example GPU(1) (DP 接続)" 30
check "second tab" test "$(tab_label 1)" = "Example GPU(2) (HDMI 接続)"
check "console alive after malformed blocks" alive console
grep -c 'sent bad block' "$HOSTS_RUN_DIR/fake-agent.out" | sed 's/^/    malformed blocks sent: /'

# Storms of connections while the Agent reports: the receiver serves one
# connection at a time, so these wait in (and overflow) the backlog of 1.
peer op storm --to "$ADDR_OP" --count 1000 --connect-ms 200 | sed 's/^/    bl> /'
peer pc2 storm --to "$ADDR_OP" --count 1000 --connect-ms 200 | sed 's/^/    bl> /'
check "console alive after floods" alive console
check "title still extended" ui title --contains "$TITLE ===> [Agent: "
check "no message box" ui no-msgbox
stop fake-agent
check "reset after the fake Agent went" title_is_bare 15

# Listening, with 192.0.2.20 typed: connections from a wrong address
# (192.0.2.21) are accepted and closed unread.
peer pc2 blocks --to "$ADDR_OP" --connect-ms 1000 | sed 's/^/    bl> /'
peer pc2 storm --to "$ADDR_OP" --count 1000 --connect-ms 200 | sed 's/^/    bl> /'
check "console alive after wrong-address input" alive console
check "title still bare" title_is_bare 1
check "still one empty tab" tabs_are 1 "$EMPTY_TAB" 2

# Malformed blocks straight from the right address (no request needed: the
# typed address stays after a reset).
peer pc blocks --to "$ADDR_OP" --own "$ADDR_PC" --connect-ms 1000 | sed 's/^/    bl> /'
peer pc random --to "$ADDR_OP" --own "$ADDR_PC" --count 30 --connect-ms 1000 | sed 's/^/    bl> /'
check "console alive after malformed blocks from the Agent's address" alive console

# A good Agent is served afterwards.
start_fake_agent good-agent pc --gpus 1 || fail "the good fake Agent did not listen"
check "reconnect after bad input" connect "$ADDR_PC"
check "title names the Agent again" title_is_connected "$ADDR_PC" 15
check "one tab 'Example GPU (DP 接続)'" tabs_are 1 "Example GPU (DP 接続)" 10
stop good-agent
check "console alive" alive console
finish
