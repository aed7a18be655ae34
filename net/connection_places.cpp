#include "net/connection_places.h"

#include <thread>

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
        return kNoPlaceToFree;
    // The newcomer's own peer when it is at its limit, else the busiest peer;
    // between peers holding as many, the one with the oldest connection.
    int most = 0, chosen = kNoPlaceToFree;
    for (int i = 0; i < count; ++i) {
        if (!places[i].held || (atLimit && places[i].peer != peer))
            continue;
        int n = atLimit ? 0 : heldBy(places, count, places[i].peer);
        if (chosen == kNoPlaceToFree || n > most ||
            (n == most && places[i].takenAs < places[chosen].takenAs)) {
            most = n;
            chosen = i;
        }
    }
    return chosen;
}

int waitUntil(std::chrono::steady_clock::time_point deadline, std::chrono::steady_clock::time_point now,
              int waitMs) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count();
    if (waitMs < 0 || left + 1 < waitMs)
        return left < 0 ? 0 : static_cast<int>(left + 1);
    return waitMs;
}

void pauseUnlessStopped(const std::atomic<bool>* stop, int ms) {
    if (!stop) {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        return;
    }
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!stopRequested(stop)) {
        auto now = std::chrono::steady_clock::now();
        if (now >= end)
            return;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - now).count();
        std::this_thread::sleep_for(std::chrono::milliseconds(left < kStopPollMs ? left : kStopPollMs));
    }
}
