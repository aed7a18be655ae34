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

// A connection that has had its answer, waiting for the client's end.
struct Draining {
    TcpSocket socket = kNoSocket;
    Clock::time_point deadline;
    int discarded = 0;
};

void closeDrained(Draining& d) {
    tcpClose(d.socket);
    d.socket = kNoSocket;
}

struct Serving {
    const AgentState& state;
    const MetricsConfig& config;
    char head[kMetricsConnectionsMax][kMetricsRequestMax];
    Draining draining[kMetricsConnectionsMax];
};

// Ends the answered connection's sending side and hands it to a draining
// place; when all are taken, the one nearest its end gives way.
void startDraining(TcpSocket socket, Draining* draining) {
    tcpShutdownSend(socket);
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
    place->socket = socket;
    place->deadline = Clock::now() + std::chrono::milliseconds(kDrainMs);
    place->discarded = 0;
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

PendingOutcome answer(Serving& serving, TcpSocket socket, const MetricsRequest& request) {
    const AgentState& state = serving.state;
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
    if (tcpSendAll(socket, response.data(), static_cast<int>(response.size()), serving.config.sendWaitMs) < 0)
        return PendingOutcome::Close;
    startDraining(socket, serving.draining);
    return PendingOutcome::TakenOver;
}

bool admitsPeer(void* context, const char* peer) {
    return allowListAdmitsText(static_cast<Serving*>(context)->config.allow, peer);
}

// Takes what has arrived; answers as soon as the request is decided.
PendingOutcome receive(void* context, int place, PendingConnection& c) {
    Serving& serving = *static_cast<Serving*>(context);
    char* head = serving.head[place];
    int n = tcpRecvOnce(c.socket, head + c.used, kMetricsRequestMax - c.used, 0);
    if (n == kTcpTimedOut)
        return PendingOutcome::Wait;
    if (n <= 0)
        return PendingOutcome::Close;
    c.used += n;
    MetricsRequest request = readMetricsRequest(head, c.used);
    return request.kind == MetricsRequestKind::Incomplete ? PendingOutcome::Wait
                                                          : answer(serving, c.socket, request);
}

int watchDraining(void* context, TcpSocket* sockets, int* waitMs) {
    Serving& serving = *static_cast<Serving*>(context);
    Clock::time_point now = Clock::now();
    for (int i = 0; i < kMetricsConnectionsMax; ++i) {
        sockets[i] = serving.draining[i].socket;
        if (sockets[i] != kNoSocket)
            *waitMs = waitUntil(serving.draining[i].deadline, now, *waitMs);
    }
    return kMetricsConnectionsMax;
}

void hearDraining(void* context, const bool* ready) {
    Serving& serving = *static_cast<Serving*>(context);
    Clock::time_point now = Clock::now();
    for (int i = 0; i < kMetricsConnectionsMax; ++i) {
        Draining& d = serving.draining[i];
        if (ready[i] && d.socket != kNoSocket)
            drain(d);
        if (d.socket != kNoSocket && now >= d.deadline)
            closeDrained(d);
    }
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
    Serving serving{state, config, {}, {}};
    const PendingConfig pending{kMetricsConnectionsMax, kMetricsPerPeerMax, config.requestWaitMs, 1,
                                config.stop};
    const PendingCallbacks callbacks{&serving, admitsPeer, receive, watchDraining, hearDraining};
    holdPendingConnections(listener, pending, callbacks);
    for (Draining& d : serving.draining)
        closeDrained(d);
    tcpClose(listener);
    netCleanup();
}
