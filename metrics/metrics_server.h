// The metrics endpoint: one thread that answers "GET /metrics" with the
// newest readings the sampler published. It reads the state only through
// snapshotSamples, slotsUp and gpuCount, never the driver, so a slow or hostile
// client holds up nothing but other clients of this endpoint.
#pragma once
#include "agent/core/agent_state.h"
#include "agent/core/allow_list.h"
#include "agent/core/fleet_options.h"
#include "net/tcp.h"

#include <atomic>
#include <cstdint>

// Connections held at once, each with its own request buffer.
constexpr int kMetricsConnectionsMax = 4;

struct MetricsConfig {
    char address[16] = "127.0.0.1";
    uint16_t port = 58681;
    // Who may connect; nullptr or an empty list admits everyone. Others are
    // closed unread.
    const AllowList* allow = nullptr;
    // Ends the thread once set: within about a tenth of a second, or once the
    // answer being sent is taken or its sendWaitMs runs out.
    const std::atomic<bool>* stop = nullptr;
    // How long an accepted connection may take to deliver its request head.
    int requestWaitMs = 2000;
    // How long the client may take to take in the answer.
    int sendWaitMs = 2000;
};

// Opens the endpoint's listening socket (starting the platform's sockets),
// so that a program can tell at start when the port cannot be had. kNoSocket
// then, with nothing left open.
TcpSocket openMetricsListener(const MetricsConfig& config);

// The thread body. Serves connections on listener until *config.stop is set,
// then closes it (and releases what openMetricsListener started).
//
// Each admitted connection gets requestWaitMs from its acceptance to deliver
// its request head; it then gets its answer (sent within sendWaitMs), its
// sending side is ended, and what it still sends is read and dropped, by the
// same loop, for up to a second or 1 MiB before it is closed, so that unread
// bytes do not reset it under the client's feet. One client address holds at
// most two places: its own oldest gives way to its next. While
// kMetricsConnectionsMax connections are held, a newly admitted one takes the
// place of the oldest of the address holding the most (requests that have
// arrived are answered first): clients that connect and keep silent cannot
// shut out a scraper, which sends its request at once.
void runMetricsServer(const AgentState& state, const MetricsConfig& config, TcpSocket listener);

// The endpoint as an Agent's fleet options ask for it, ready to serve.
struct FleetMetrics {
    MetricsConfig config;
    TcpSocket listener = kNoSocket;
    char url[48] = {}; // http://ADDRESS:PORT/metrics
};

enum class FleetMetricsStart { NotAsked, Listening, PortUnavailable };

// Without --metrics-listen, NotAsked. Otherwise out takes the address, port,
// allow list and stop flag, and its listener is opened (openMetricsListener)
// so that a port in use is said at start: PortUnavailable, nothing open.
FleetMetricsStart openFleetMetrics(const FleetOptions& fleet, const std::atomic<bool>* stop,
                                   FleetMetrics* out);
