#include "metrics/metrics_server.h"

#include "metrics/metrics_http.h"
#include "metrics/metrics_text.h"
#include "net/connection_places.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

// Connections beyond those held wait here until the loop takes them.
constexpr int kListenBacklog = 16;
// Places one client address may hold, so that one host cannot shut out a scraper.
constexpr int kMetricsPerPeerMax = 2;
// After its answer a connection is read and the bytes dropped, for at most
// this long or this many bytes, before it is closed: closed with request
// bytes unread (a body, a pipelined request, an over-long head), it would be
// reset, and the client could lose the answer it has not read yet.
constexpr int kDrainMs = 1000;
constexpr int kDrainBytesMax = 1 << 20;

struct Connection {
    TcpSocket socket = kNoSocket;
    Clock::time_point deadline;
    uint64_t acceptedAs = 0; // running number: the smallest was accepted longest ago
    uint32_t peer = 0;
    int used = 0;
    char head[kMetricsRequestMax];
};

// A connection that has had its answer, waiting for the client's end.
struct Draining {
    TcpSocket socket = kNoSocket;
    Clock::time_point deadline;
    int discarded = 0;
};

bool stopRequested(const MetricsConfig& config) {
    return ::stopRequested(config.stop);
}

void drop(Connection& c) {
    tcpClose(c.socket);
    c.socket = kNoSocket;
    c.used = 0;
}

void closeDrained(Draining& d) {
    tcpClose(d.socket);
    d.socket = kNoSocket;
}

// Ends the answered connection's sending side and hands it to a draining
// place; when all are taken, the one nearest its end gives way.
void startDraining(Connection& c, Draining* draining) {
    tcpShutdownSend(c.socket);
    Draining* place = &draining[0];
    for (int i = 0; i < kMetricsConnectionsMax; ++i) {
        if (draining[i].socket == kNoSocket) {
            place = &draining[i];
            break;
        }
        if (draining[i].deadline < place->deadline)
            place = &draining[i];
    }
    closeDrained(*place);
    place->socket = c.socket;
    place->deadline = Clock::now() + std::chrono::milliseconds(kDrainMs);
    place->discarded = 0;
    c.socket = kNoSocket;
    c.used = 0;
}

void drain(Draining& d) {
    char scratch[16384];
    int n = tcpRecvOnce(d.socket, scratch, sizeof scratch, 0);
    if (n == kTcpTimedOut)
        return;
    d.discarded += n > 0 ? n : 0;
    if (n <= 0 || d.discarded > kDrainBytesMax)
        closeDrained(d);
}

void answer(const AgentState& state, const MetricsConfig& config, Connection& c,
            const MetricsRequest& request, Draining* draining) {
    std::string text;
    if (request.kind == MetricsRequestKind::Metrics) {
        GpuSample samples[kGpuSlotCount];
        snapshotSamples(state, samples);
        bool up[kGpuSlotCount];
        slotsUp(state, steadyMs(), up);
        GpuHealth health[kGpuSlotCount];
        char driverVersion[NVML_SYSTEM_DRIVER_VERSION_BUFFER_SIZE];
        snapshotHealth(state, health, driverVersion, sizeof driverVersion);
        text =
            metricsText(samples, health, state.gpuCount.load(std::memory_order_relaxed), up, driverVersion);
    }
    const std::string response = metricsResponse(request, text);
    if (tcpSendAll(c.socket, response.data(), static_cast<int>(response.size()), config.sendWaitMs) < 0)
        drop(c);
    else
        startDraining(c, draining);
}

// Takes what has arrived; answers as soon as the request is decided.
void receive(const AgentState& state, const MetricsConfig& config, Connection& c, Draining* draining) {
    int n = tcpRecvOnce(c.socket, c.head + c.used, kMetricsRequestMax - c.used, 0);
    if (n == kTcpTimedOut)
        return;
    if (n <= 0) {
        drop(c);
        return;
    }
    c.used += n;
    MetricsRequest request = readMetricsRequest(c.head, c.used);
    if (request.kind != MetricsRequestKind::Incomplete)
        answer(state, config, c, request, draining);
}

void admit(const MetricsConfig& config, TcpSocket listener, Connection* connections, uint64_t* accepted) {
    char peerText[16] = {};
    TcpSocket s = tcpAccept(listener, 0, peerText);
    if (s == kNoSocket)
        return;
    uint32_t peer = 0;
    if (!allowListAdmitsText(config.allow, peerText) || !parseInetAddr(peerText, &peer)) {
        tcpClose(s);
        return;
    }
    ConnectionPlace places[kMetricsConnectionsMax];
    for (int i = 0; i < kMetricsConnectionsMax; ++i)
        places[i] = {connections[i].socket != kNoSocket, connections[i].peer, connections[i].acceptedAs};
    int give = placeToFree(places, kMetricsConnectionsMax, kMetricsPerPeerMax, peer);
    Connection* slot = nullptr;
    if (give != kNoPlaceToFree) {
        slot = &connections[give];
        drop(*slot);
    }
    for (int i = 0; i < kMetricsConnectionsMax && !slot; ++i)
        if (connections[i].socket == kNoSocket)
            slot = &connections[i];
    slot->socket = s;
    slot->peer = peer;
    slot->deadline = Clock::now() + std::chrono::milliseconds(config.requestWaitMs);
    slot->acceptedAs = ++*accepted;
    slot->used = 0;
}

} // namespace

TcpSocket openMetricsListener(const MetricsConfig& config) {
    if (!netStartup())
        return kNoSocket;
    TcpSocket listener = tcpListen(config.address, config.port, kListenBacklog);
    if (listener == kNoSocket)
        netCleanup();
    return listener;
}

FleetMetricsStart openFleetMetrics(const FleetOptions& fleet, const std::atomic<bool>* stop,
                                   FleetMetrics* out) {
    if (!fleet.metrics)
        return FleetMetricsStart::NotAsked;
    std::memcpy(out->config.address, fleet.metricsAddress, sizeof out->config.address);
    out->config.port = fleet.metricsPort;
    out->config.allow = &fleet.allow;
    out->config.stop = stop;
    std::snprintf(out->url, sizeof out->url, "http://%s:%u/metrics", fleet.metricsAddress,
                  static_cast<unsigned>(fleet.metricsPort));
    out->listener = openMetricsListener(out->config);
    return out->listener == kNoSocket ? FleetMetricsStart::PortUnavailable : FleetMetricsStart::Listening;
}

void runMetricsServer(const AgentState& state, const MetricsConfig& config, TcpSocket listener) {
    Connection connections[kMetricsConnectionsMax];
    Draining draining[kMetricsConnectionsMax];
    uint64_t accepted = 0;
    constexpr int kWaited = 1 + 2 * kMetricsConnectionsMax;
    while (!stopRequested(config)) {
        TcpSocket sockets[kWaited];
        bool ready[kWaited];
        sockets[0] = listener;
        // Without a stop flag to look at, only a deadline wakes the loop.
        int waitMs = config.stop ? kStopPollMs : -1;
        Clock::time_point now = Clock::now();
        for (int i = 0; i < kMetricsConnectionsMax; ++i) {
            sockets[1 + i] = connections[i].socket;
            sockets[1 + kMetricsConnectionsMax + i] = draining[i].socket;
            if (connections[i].socket != kNoSocket)
                waitMs = waitUntil(connections[i].deadline, now, waitMs);
            if (draining[i].socket != kNoSocket)
                waitMs = waitUntil(draining[i].deadline, now, waitMs);
        }
        if (tcpWaitReadable(sockets, kWaited, waitMs, ready) < 0) {
            pauseUnlessStopped(config.stop, 10);
            continue;
        }
        for (int i = 0; i < kMetricsConnectionsMax; ++i)
            if (ready[1 + kMetricsConnectionsMax + i] && draining[i].socket != kNoSocket)
                drain(draining[i]);
        // Requests that have arrived are answered before anyone new is let in.
        for (int i = 0; i < kMetricsConnectionsMax; ++i)
            if (ready[1 + i] && connections[i].socket != kNoSocket)
                receive(state, config, connections[i], draining);
        now = Clock::now();
        for (Connection& c : connections)
            if (c.socket != kNoSocket && now >= c.deadline)
                drop(c);
        for (Draining& d : draining)
            if (d.socket != kNoSocket && now >= d.deadline)
                closeDrained(d);
        if (ready[0])
            admit(config, listener, connections, &accepted);
    }
    for (Connection& c : connections)
        drop(c);
    for (Draining& d : draining)
        closeDrained(d);
    tcpClose(listener);
    netCleanup();
}
