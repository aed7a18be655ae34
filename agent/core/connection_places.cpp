#include "agent/core/connection_places.h"

namespace {

int heldBy(const ConnectionPlace* places, int count, uint32_t peer) {
    int n = 0;
    for (int i = 0; i < count; ++i)
        if (places[i].held && places[i].peer == peer)
            ++n;
    return n;
}

} // namespace

int placeToFree(const ConnectionPlace* places, int count, int perPeerMax, uint32_t peer) {
    int free = -1;
    for (int i = 0; i < count && free < 0; ++i)
        if (!places[i].held)
            free = i;
    bool atLimit = heldBy(places, count, peer) >= perPeerMax;
    if (free >= 0 && !atLimit)
        return -1;
    // The newcomer's own peer when it is at its limit, else the busiest peer;
    // between peers holding as many, the one with the oldest connection.
    int most = 0, chosen = -1;
    for (int i = 0; i < count; ++i) {
        if (!places[i].held || (atLimit && places[i].peer != peer))
            continue;
        int n = atLimit ? 0 : heldBy(places, count, places[i].peer);
        if (chosen < 0 || n > most || (n == most && places[i].takenAs < places[chosen].takenAs)) {
            most = n;
            chosen = i;
        }
    }
    return chosen;
}
