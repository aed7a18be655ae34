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

namespace {

using Clock = std::chrono::steady_clock;

// After a failed wait, so that a lasting failure does not spin.
constexpr int kWaitFailedPauseMs = 200;

struct Pending {
    ConnectionPlace place[kPendingPlacesMax];
    PendingConnection connection[kPendingPlacesMax];
    uint64_t taken = 0;
};

void release(Pending& pending, int i, bool close) {
    if (close)
        tcpClose(pending.connection[i].socket);
    pending.place[i] = {};
    pending.connection[i] = {};
}

int oldestReady(const Pending& pending, int count, const bool* ready) {
    int oldest = -1;
    for (int i = 0; i < count; ++i)
        if (ready[i] && pending.place[i].held &&
            (oldest < 0 || pending.place[i].takenAs < pending.place[oldest].takenAs))
            oldest = i;
    return oldest;
}

void accept(TcpSocket listener, const PendingConfig& config, const PendingCallbacks& callbacks,
            Pending& pending) {
    for (int n = 0; n < config.acceptsAtOnce; ++n) {
        char peerText[16] = {};
        TcpSocket s = tcpAccept(listener, 0, peerText);
        if (s == kNoSocket)
            return;
        uint32_t peer = 0;
        if ((callbacks.admits && !callbacks.admits(callbacks.context, peerText)) ||
            !parseInetAddr(peerText, &peer)) {
            tcpClose(s);
            continue;
        }
        int i = placeToFree(pending.place, config.places, config.perPeerMax, peer);
        if (i != kNoPlaceToFree)
            release(pending, i, true);
        for (i = 0; pending.place[i].held;)
            ++i;
        pending.place[i] = {true, peer, ++pending.taken};
        pending.connection[i] = {s, Clock::now() + std::chrono::milliseconds(config.requestWaitMs), 0};
    }
}

} // namespace

bool holdPendingConnections(TcpSocket listener, const PendingConfig& config,
                            const PendingCallbacks& callbacks) {
    Pending pending;
    const int places = config.places;
    bool done = false;
    while (!done && !stopRequested(config.stop)) {
        TcpSocket watched[kTcpWaitMax];
        bool ready[kTcpWaitMax];
        watched[0] = listener;
        int waitMs = config.stop ? kStopPollMs : -1;
        Clock::time_point now = Clock::now();
        for (int i = 0; i < places; ++i) {
            watched[1 + i] = pending.connection[i].socket;
            if (pending.place[i].held)
                waitMs = waitUntil(pending.connection[i].deadline, now, waitMs);
        }
        int also =
            callbacks.watchAlso ? callbacks.watchAlso(callbacks.context, watched + 1 + places, &waitMs) : 0;
        if (tcpWaitReadable(watched, 1 + places + also, waitMs, ready) < 0) {
            pauseUnlessStopped(config.stop, kWaitFailedPauseMs);
            continue;
        }
        // Time is judged as of the wait: a request that came while an earlier
        // one was dealt with is read before its connection expires.
        Clock::time_point waited = Clock::now();
        if (callbacks.heardAlso)
            callbacks.heardAlso(callbacks.context, ready + 1 + places);
        // Oldest first, so that newer connections cannot starve an older
        // request; what has arrived is heard before anyone new is let in.
        for (int i; !done && (i = oldestReady(pending, places, ready + 1)) >= 0;) {
            ready[1 + i] = false;
            PendingOutcome outcome = callbacks.heard(callbacks.context, i, pending.connection[i]);
            done = outcome == PendingOutcome::Done;
            if (outcome == PendingOutcome::Close || outcome == PendingOutcome::TakenOver)
                release(pending, i, outcome == PendingOutcome::Close);
        }
        for (int i = 0; i < places && !done; ++i)
            if (pending.place[i].held && waited >= pending.connection[i].deadline)
                release(pending, i, true);
        if (ready[0] && !done)
            accept(listener, config, callbacks, pending);
    }
    for (int i = 0; i < places; ++i)
        if (pending.place[i].held)
            release(pending, i, true);
    return done;
}
