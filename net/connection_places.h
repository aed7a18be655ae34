// What the Agent's two servers (the report listener and the metrics
// endpoint) share: the loop that holds the connections a listener took until
// they say what they want, each within its deadline; which held connection
// gives way when that loop takes in a newcomer, so that one host cannot crowd
// out the others on either port; how long a loop may wait before its next
// deadline; and a pause that a stop request cuts short.
#pragma once
#include "net/tcp.h"

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

constexpr int kPendingPlacesMax = 16;

// A held connection: its deadline for saying what it wants, and how many
// bytes of it the server has kept so far (0 when taken).
struct PendingConnection {
    TcpSocket socket = kNoSocket;
    std::chrono::steady_clock::time_point deadline;
    int used = 0;
};

// What became of a held connection that was heard: it may say more, it is
// closed, the server took it over (its place is free, the socket stays open),
// or the loop is done (every connection is closed and the loop returns).
enum class PendingOutcome { Wait, Close, TakenOver, Done };

struct PendingCallbacks {
    void* context = nullptr;
    // Whether a connection from peer (dotted) may be held; others are closed unread.
    bool (*admits)(void* context, const char* peer) = nullptr;
    // A held connection has something to read (oldest first); place is its
    // index, the same for as long as it is held.
    PendingOutcome (*heard)(void* context, int place, PendingConnection& connection) = nullptr;
    // Other sockets of the server to hear in the same wait: fills at most
    // kPendingPlacesMax, returns how many, and may cut *waitMs short.
    int (*watchAlso)(void* context, TcpSocket* sockets, int* waitMs) = nullptr;
    // What came of them, told first after each wait.
    void (*heardAlso)(void* context, const bool* ready) = nullptr;
};

struct PendingConfig {
    int places = kPendingPlacesMax;
    int perPeerMax = 1;
    // From a connection's acceptance to its deadline.
    int requestWaitMs = 0;
    // Connections taken from the listener at each wake-up at most.
    int acceptsAtOnce = 1;
    const std::atomic<bool>* stop = nullptr;
};

// Hears the listener and every held connection at once, until a connection
// is Done (true) or stop is set (false); closes every held connection, not
// the listener, before it returns. A connection whose deadline has passed as
// of the last wait is closed; a newcomer takes a free place or the one
// placeToFree names.
bool holdPendingConnections(TcpSocket listener, const PendingConfig& config,
                            const PendingCallbacks& callbacks);
