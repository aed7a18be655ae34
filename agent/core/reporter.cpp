#include "agent/core/reporter.h"

#include "agent/core/allow_list.h"
#include "net/connection_places.h"
#include "net/tcp.h"
#include "protocol/report_block.h"

#include <chrono>
#include <cstring>

namespace {

constexpr int kPendingConnectionsMax = 16;
constexpr int kPendingPerPeerMax = 4;
// What may wait unsent on the report connection: about two blocks.
constexpr int kReportSendBufferBytes = 2 * kReportBlockBytes;

bool stopRequested(const ReporterConfig& config) {
    return ::stopRequested(config.stop);
}

void tell(const ReporterConfig& config, ReporterEvent event, const char* address) {
    if (config.callbacks.event)
        config.callbacks.event(config.callbacks.context, event, address);
}

void setConnected(AgentState& state, const ReporterConfig& config, int32_t value) {
    state.reportConnected.store(value, std::memory_order_relaxed);
    if (config.callbacks.invalidate)
        config.callbacks.invalidate(config.callbacks.context);
}

// A whole request (20 bytes in one receive) naming an address, by the rules
// of inet_addr, that the allow list admits; *address gets it.
bool requestAccepted(const ReporterConfig& config, const uint8_t request[kRequestBytes], uint32_t* address) {
    char text[kAddressTextMax + 1];
    return readRequestAddress(request, text) && parseInetAddr(text, address) &&
           (!config.allow || config.allow->count == 0 || allowListAdmits(config.allow, *address));
}

// Connects back to the address a request names; the listener and the other
// pending connections stay open meanwhile, so a request naming an address
// that never answers costs the others only the wait.
bool connectBack(AgentState& state, const ReporterConfig& config, TcpSocket requestConnection,
                 uint32_t address, ReportConnection* out) {
    char local[16] = {};
    uint32_t from = 0;
    bool fromRequest = config.answerFromRequestAddress && tcpLocalAddress(requestConnection, local) &&
                       parseInetAddr(local, &from);
    formatInetAddr(address, out->console);
    TcpSocket s = tcpConnectFrom(fromRequest ? from : 0, address, config.reportPort, config.connectTimeoutMs,
                                 config.stop);
    if (s == kNoSocket) {
        setConnected(state, config, 0);
        if (!stopRequested(config))
            tell(config, ReporterEvent::ConnectFailed, out->console);
        return false;
    }
    out->socket = s;
    std::memcpy(out->local, fromRequest ? local : "", fromRequest ? sizeof local : 1);
    return true;
}

// Hands one whole block to the system within config.blockSendMs, looking at
// the stop flag between steps. A small send buffer keeps a Console that
// stopped reading from hiding behind the system's queue for long.
bool handOver(const ReporterConfig& config, TcpSocket s, const uint8_t* block, int size) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(config.blockSendMs);
    for (int sent = 0; sent < size;) {
        auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now())
                .count();
        if (left <= 0 || stopRequested(config))
            return false;
        int n = tcpSendPart(s, block + sent, size - sent,
                            left < kStopPollMs ? static_cast<int>(left) : kStopPollMs);
        if (n < 0)
            return false;
        sent += n;
    }
    return true;
}

struct Awaiting {
    AgentState& state;
    const ReporterConfig& config;
    ReportConnection* out;
};

bool admitsPeer(void* context, const char* peer) {
    return allowListAdmitsText(static_cast<Awaiting*>(context)->config.allow, peer);
}

PendingOutcome hearRequest(void* context, int, PendingConnection& connection) {
    Awaiting& a = *static_cast<Awaiting*>(context);
    uint8_t request[kRequestBytes] = {};
    uint32_t address = 0;
    int got = tcpRecvOnce(connection.socket, request, kRequestBytes, 0);
    if (got == kRequestBytes && requestAccepted(a.config, request, &address))
        return connectBack(a.state, a.config, connection.socket, address, a.out) ? PendingOutcome::Done
                                                                                 : PendingOutcome::Close;
    // A request that names no address is closed like a silent connection; of
    // part of a request, what came is not kept.
    return got == kRequestBytes || got == 0 || got == kTcpFailed ? PendingOutcome::Close
                                                                 : PendingOutcome::Wait;
}

} // namespace

bool awaitReportConnection(AgentState& state, const ReporterConfig& config, ReportConnection* out) {
    for (;;) {
        if (stopRequested(config))
            return false;
        netStartup();
        TcpSocket listener = tcpListen(config.bindAddress, config.listenPort, kPendingConnectionsMax);
        if (listener == kNoSocket) {
            // Port taken or no network: try again later rather than spin.
            netCleanup();
            pauseUnlessStopped(config.stop, config.bindRetryMs);
            continue;
        }
        tell(config, ReporterEvent::Listening, nullptr);
        // Every connection is heard at once: a peer that connects and says
        // nothing costs a place among the pending, never the Agent's ear.
        Awaiting awaiting{state, config, out};
        const PendingConfig pending{kPendingConnectionsMax, kPendingPerPeerMax, config.requestWaitMs,
                                    kPendingConnectionsMax, config.stop};
        const PendingCallbacks callbacks{&awaiting, admitsPeer, hearRequest};
        bool connected = holdPendingConnections(listener, pending, callbacks);
        tcpClose(listener);
        if (connected)
            return true;
        netCleanup();
        return false;
    }
}

void serveReportConnection(AgentState& state, const ReporterConfig& config,
                           const ReportConnection& connection) {
    TcpSocket s = connection.socket;
    tcpSetSendBuffer(s, kReportSendBufferBytes);
    setConnected(state, config, 1);
    tell(config, ReporterEvent::Reporting, connection.console);
    char label[16] = {};
    const ReporterCallbacks& callbacks = config.callbacks;
    if (connection.local[0])
        std::memcpy(label, connection.local, sizeof label);
    else if (!(callbacks.ownAddress ? callbacks.ownAddress(callbacks.context, label)
                                    : hostAddressLabel(label)) &&
             !tcpLocalAddress(s, label))
        label[0] = '\0';
    GpuSample samples[kGpuSlotCount];
    uint8_t block[kReportBlockBytes];
    while (state.reportConnected.load(std::memory_order_relaxed) == 1 && !stopRequested(config)) {
        snapshotSamples(state, samples);
        int count = state.gpuCount.load(std::memory_order_relaxed);
        buildReportBlock(samples, count, label, block);
        if (!handOver(config, s, block, kReportBlockBytes) && !stopRequested(config)) {
            setConnected(state, config, 0);
            tell(config, ReporterEvent::ConnectionLost, nullptr);
        }
        pauseUnlessStopped(config.stop, config.reportPeriodMs);
    }
    if (stopRequested(config))
        state.reportConnected.store(0, std::memory_order_relaxed);
    tcpClose(s);
    netCleanup();
}

void runReporter(AgentState& state, const ReporterConfig& config) {
    while (!stopRequested(config)) {
        ReportConnection connection;
        if (!awaitReportConnection(state, config, &connection))
            return;
        serveReportConnection(state, config, connection);
        pauseUnlessStopped(config.stop, config.restartPauseMs);
    }
}

bool hostAddressLabel(char out[16]) {
    uint32_t addresses[32];
    int n = hostIpv4Addresses(addresses, 32);
    if (n <= 0)
        return false;
    formatInetAddr(addresses[n - 1], out);
    return true;
}
