#!/bin/bash
# Checks the test hosts themselves with the test peers: addresses as the
# peers see them, the Console's port on both hosts at once, a cut link, the
# exit code passed through, and nothing left behind.
set -u
here=$(dirname "$(readlink -f "$0")")
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
export GAUGELINE_HOSTS_STATE=${TMPDIR:-/tmp}/gl-hosts-selftest-$$

listening() { # output file of the test peer's Agent
    for _ in $(seq 100); do
        grep -q '^listening' "$HOSTS_RUN_DIR/$1" && return 0
        sleep 0.1
    done
}
inner() {
    "$HOST_RUN" pc "$PEER" agent --blocks 3 --gpus 2 >"$HOSTS_RUN_DIR/fa.out" &
    listening fa.out
    out=$("$HOST_RUN" op "$PEER" console --to "$ADDR_PC" --blocks 3 --expect-gpus 2 --expect-label "$ADDR_PC")
    [ $? = 0 ] || { echo "fake console failed: $out"; return 1; }
    wait
    grep -q "request peer=$ADDR_OP address=$ADDR_OP" "$HOSTS_RUN_DIR/fa.out" || { echo "agent saw: $(cat "$HOSTS_RUN_DIR/fa.out")"; return 1; }
    # pc2 reaches pc directly; op cannot reach pc while pc's link is down
    "$HOST_RUN" pc "$PEER" agent --blocks 1 >"$HOSTS_RUN_DIR/fa1.out" &
    listening fa1.out
    "$HOST_RUN" pc2 "$PEER" console --to "$ADDR_PC" --blocks 1 >/dev/null || { echo "pc2 to pc failed"; return 1; }
    wait
    ip -n "$NS_PC" link set "$VETH_PC" down
    if "$HOST_RUN" op timeout 3 bash -c "exec 3<>/dev/tcp/$ADDR_PC/58680" 2>/dev/null; then
        echo "link down but connected"
        return 1
    fi
    ip -n "$NS_PC" link set "$VETH_PC" up
    echo "$NS_OP $NS_PC $NS_PC2" >"$GAUGELINE_HOSTS_STATE/names"
    return 7
}
export -f inner listening
export PEER=$here/../peers/peer.py
"$here/with-hosts" --no-wine -- bash -c inner
rc=$?
[ $rc = 77 ] && exit 77
[ $rc = 7 ] || fail "with-hosts passed exit code $rc, expected 7 from the command"
for ns in $(cat "$GAUGELINE_HOSTS_STATE/names" 2>/dev/null); do
    ip netns list | grep -q "^$ns\b" && fail "namespace $ns left behind"
done
[ -n "$(ls "$GAUGELINE_HOSTS_STATE" | grep '^run-')" ] && fail "run folder left behind"

# Interrupted: TERM while the command runs still removes the hosts.
"$here/with-hosts" --no-wine -- bash -c 'echo "$NS_OP" >"$GAUGELINE_HOSTS_STATE/names2"; sleep 60' &
pid=$!
for _ in $(seq 300); do
    [ -s "$GAUGELINE_HOSTS_STATE/names2" ] && break
    sleep 0.1
done
kill -TERM $pid
wait $pid
rc=$?
ns=$(cat "$GAUGELINE_HOSTS_STATE/names2" 2>/dev/null)
[ -n "$ns" ] || fail "interrupted run did not start"
ip netns list | grep -q "^$ns\b" && fail "namespace $ns left behind after TERM"
[ $rc = 143 ] || fail "TERM gave exit code $rc, expected 143"
rm -rf "$GAUGELINE_HOSTS_STATE"
[ $failures = 0 ] && echo "hosts self-test passed"
exit $((failures > 0))
