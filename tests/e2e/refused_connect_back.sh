#!/bin/bash
# A request naming an address where nothing listens: the Agent's connect back
# is refused, and it must listen again at once rather than after its 5 s
# connect time-out.
. "$(dirname "$0")/lib.sh"
require_programs "$AGENT_EXE"

start_agent || exit 1
wait_listening op "$ADDR_PC" 60 >/dev/null || { fail "agent never listened"; finish; }

# request ADDRESS: sends the 20-byte request from the operator's host and
# returns once the Agent has taken it (it closes the request connection).
request() {
    local pad
    pad=$(printf '\\0%.0s' $(seq $((20 - ${#1}))))
    # one write, so that one receive brings all 20 bytes
    "$HOST_RUN" op bash -c 'exec 3<>"/dev/tcp/$1/$4" && printf "%s$2" "$3" >&3 && cat <&3 >/dev/null' \
        _ "$ADDR_PC" "$pad" "$1" "$GL_PORT"
}

within() { [ "$1" != never ] && [ "$1" -lt "$2" ]; }

for named in "$ADDR_OP" "$ADDR_PC2" "$ADDR_OP"; do
    t0=$(now_ms)
    check "request naming $named taken" request "$named"
    ms=$(wait_listening op "$ADDR_PC" 15 "$t0") || ms=never
    log "figure: request naming $named (nothing listening) to the Agent accepting again: $ms ms"
    check "listening again within 1.5 s after $named refused the connect back" within "$ms" 1500
done
check "agent alive" alive agent
finish
