#include "agent/core/reporter.h"

#include "agent/core/allow_list.h"
#include "net/connection_places.h"
#include "net/tcp.h"
#include "protocol/report_block.h"

#include <chrono>
#include <cstring>

namespace {

constexpr int kAcceptPollMs = 200;
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

// Connections taken from the listener that have not yet sent a request, in
// the order they were taken (the first is the oldest).
struct PendingConnections {
    TcpSocket socket[kPendingConnectionsMax];
    uint32_t peer[kPendingConnectionsMax];
    std::chrono::steady_clock::time_point acceptedAt[kPendingConnectionsMax];
    // Readable at the last wait, not yet read.
    bool ready[kPendingConnectionsMax];
    int count = 0;
};

void dropPending(PendingConnections& pending, int i) {
    tcpClose(pending.socket[i]);
    for (int k = i + 1; k < pending.count; ++k) {
        pending.socket[k - 1] = pending.socket[k];
        pending.peer[k - 1] = pending.peer[k];
        pending.acceptedAt[k - 1] = pending.acceptedAt[k];
        pending.ready[k - 1] = pending.ready[k];
    }
    --pending.count;
}

void dropAllPending(PendingConnections& pending) {
    while (pending.count > 0)
        dropPending(pending, pending.count - 1);
}

// How long the listener may wait: until the first held connection's time is
// up, and in steps when a stop may come; for ever when neither.
int listenWaitMs(const ReporterConfig& config, const PendingConnections& pending) {
    int wait = config.stop ? kStopPollMs : -1;
    auto now = std::chrono::steady_clock::now();
    for (int i = 0; i < pending.count; ++i)
        wait = waitUntil(pending.acceptedAt[i] + std::chrono::milliseconds(config.requestWaitMs), now, wait);
    return wait;
}

// Takes every connection waiting at the listener. Those from outside the
// allow list are closed unread; one peer holds at most a few places, so a
// host that opens connections fast evicts only its own.
void acceptPending(const ReporterConfig& config, TcpSocket listener, PendingConnections& pending) {
    for (int taken = 0; taken < kPendingConnectionsMax; ++taken) {
        char peerText[16] = {};
        TcpSocket connection = tcpAccept(listener, 0, peerText);
        if (connection == kNoSocket)
            return;
        uint32_t peer = 0;
        if (!allowListAdmitsText(config.allow, peerText) || !parseInetAddr(peerText, &peer)) {
            tcpClose(connection);
            continue;
        }
        ConnectionPlace places[kPendingConnectionsMax];
        for (int i = 0; i < pending.count; ++i)
            places[i] = {true, pending.peer[i], static_cast<uint64_t>(i)};
        int give = placeToFree(places, kPendingConnectionsMax, kPendingPerPeerMax, peer);
        if (give != kNoPlaceToFree)
            dropPending(pending, give);
        pending.socket[pending.count] = connection;
        pending.peer[pending.count] = peer;
        pending.acceptedAt[pending.count] = std::chrono::steady_clock::now();
        pending.ready[pending.count] = false;
        ++pending.count;
    }
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
        PendingConnections pending;
        bool connected = false;
        while (!connected && !stopRequested(config)) {
            TcpSocket watched[kPendingConnectionsMax + 1];
            bool ready[kPendingConnectionsMax + 1];
            watched[0] = listener;
            for (int i = 0; i < pending.count; ++i)
                watched[i + 1] = pending.socket[i];
            int n = tcpWaitReadable(watched, pending.count + 1, listenWaitMs(config, pending), ready);
            if (n < 0) {
                pauseUnlessStopped(config.stop, kAcceptPollMs);
                continue;
            }
            // Time is judged as of the wait: a request that came while a
            // connect back was tried is read before its connection expires.
            auto waited = std::chrono::steady_clock::now();
            for (int i = 0; i < pending.count; ++i)
                pending.ready[i] = ready[i + 1];
            // Oldest first, so that newer connections cannot starve an older request.
            for (int i = 0; i < pending.count && !connected;) {
                if (!pending.ready[i]) {
                    ++i;
                    continue;
                }
                pending.ready[i] = false;
                uint8_t request[kRequestBytes] = {};
                uint32_t address = 0;
                int got = tcpRecvOnce(pending.socket[i], request, kRequestBytes, 0);
                if (got == kRequestBytes && requestAccepted(config, request, &address)) {
                    connected = connectBack(state, config, pending.socket[i], address, out);
                    if (!connected)
                        dropPending(pending, i);
                } else if (got == kRequestBytes || got == 0 || got == kTcpFailed) {
                    // A request that names no address is closed like a silent connection.
                    dropPending(pending, i);
                } else {
                    // Part of a request: what came is not kept.
                    ++i;
                }
            }
            if (connected)
                break;
            for (int i = pending.count - 1; i >= 0; --i)
                if (waited - pending.acceptedAt[i] >= std::chrono::milliseconds(config.requestWaitMs))
                    dropPending(pending, i);
            if (ready[0])
                acceptPending(config, listener, pending);
        }
        dropAllPending(pending);
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
