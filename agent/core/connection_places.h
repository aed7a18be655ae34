// Which held connection gives way when a listener with a fixed number of
// places takes in a newcomer. Shared by the report listener and the metrics
// endpoint, so that one host cannot crowd out the others on either port.
#pragma once
#include <cstdint>

// One place: whether it is held, the peer's address (network order) and when
// it was taken (a running number: the smallest was taken longest ago).
struct ConnectionPlace {
    bool held = false;
    uint32_t peer = 0;
    uint64_t takenAs = 0;
};

// The index of the place whose connection must be closed before a newcomer
// from peer can be taken, or -1 when a free place may simply be used. A peer
// holding perPeerMax places gives up its own oldest; when every place is
// held, the oldest connection of the peer holding the most gives way.
int placeToFree(const ConnectionPlace* places, int count, int perPeerMax, uint32_t peer);
