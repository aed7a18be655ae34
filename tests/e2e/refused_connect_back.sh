#!/bin/bash
# A request naming an address where nothing listens: the Agent's connect back
# is refused, and it must take the next request at once rather than after its
# 5 s connect time-out. (It listens throughout, so only a served request tells.)
. "$(dirname "$0")/lib.sh"
require_programs "$AGENT_EXE"

start_agent || exit 1
wait_listening op "$ADDR_PC" 60 >/dev/null || { fail "agent never listened"; finish; }

# request ADDRESS: sends the 20-byte request from the operator's host, in one
# write so that one receive brings all 20 bytes, and leaves.
request() {
    local pad
    pad=$(printf '\\0%.0s' $(seq $((20 - ${#1}))))
    "$HOST_RUN" op bash -c 'exec 3<>"/dev/tcp/$1/$4" && printf "%s$2" "$3" >&3' _ "$ADDR_PC" "$pad" "$1" "$GL_PORT"
}

# Nothing listens on the operator's PC; the next request comes from the second
# watched PC at the Console's pace (1 s after its connection).
check "request naming $ADDR_OP sent" request "$ADDR_OP"
out=$(peer pc2 console --to "$ADDR_PC" --blocks 1 --timeout-s 15)
ms=$(printf '%s\n' "$out" | sed -n 's/.*after_request_ms=\([0-9]*\).*/\1/p')
log "figure: after the refused connect back, the next request was answered in ${ms:-never} ms"
check "the next request answered within 1.5 s" test "${ms:-99999}" -le 1500
check "agent alive" alive agent
finish
