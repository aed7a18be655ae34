// What the Agent's two servers (the report listener and the metrics
// endpoint) share: which held connection gives way when a listener with a
// fixed number of places takes in a newcomer, so that one host cannot crowd
// out the others on either port; how long a loop may wait before its next
// deadline; and a pause that a stop request cuts short.
#pragma once
#include <atomic>
#include <chrono>
#include <cstdint>

// One place: whether it is held, the peer's address (network order) and when
// it was taken (a running number: the smallest was taken longest ago).
struct ConnectionPlace {
    bool held = false;
    uint32_t peer = 0;
    uint64_t takenAs = 0;
};

constexpr int kNoPlaceToFree = -1;

// The index of the place whose connection must be closed before a newcomer
// from peer can be taken, or kNoPlaceToFree when a free place may simply be used. A peer
// holding perPeerMax places gives up its own oldest; when every place is
// held, the oldest connection of the peer holding the most gives way.
int placeToFree(const ConnectionPlace* places, int count, int perPeerMax, uint32_t peer);

// How often a loop that may be told to stop looks at its flag.
constexpr int kStopPollMs = 250;

inline bool stopRequested(const std::atomic<bool>* stop) {
    return stop && stop->load(std::memory_order_relaxed);
}

// The wait in milliseconds (-1: for ever) cut short to end at deadline;
// rounded up, so that the loop does not spin in the last part of a millisecond.
int waitUntil(std::chrono::steady_clock::time_point deadline, std::chrono::steady_clock::time_point now,
              int waitMs);

// Sleeps ms in steps of kStopPollMs, returning once *stop is set; without a
// flag it sleeps in one go (each wake-up costs a little).
void pauseUnlessStopped(const std::atomic<bool>* stop, int ms);
