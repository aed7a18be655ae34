#include "agent/transport.h"

#include "agent/allow_list.h"
#include "net/tcp.h"
#include "protocol/report_block.h"

#include <chrono>
#include <cstring>
#include <thread>

namespace {

constexpr int kAcceptPollMs = 200;
// How often a thread that may be told to stop looks at its flag.
constexpr int kStopPollMs = 250;
constexpr int kPendingConnectionsMax = 16;

bool stopRequested(const ReporterConfig& config) {
    return config.stop && config.stop->load(std::memory_order_relaxed);
}

// Sleeps in steps so that a stop request is seen promptly; a thread that is
// never told to stop sleeps in one go (each wake-up costs a little).
void pause(const ReporterConfig& config, int ms) {
    if (!config.stop) {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        return;
    }
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!stopRequested(config)) {
        auto now = std::chrono::steady_clock::now();
        if (now >= end)
            return;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - now).count();
        std::this_thread::sleep_for(std::chrono::milliseconds(left < kStopPollMs ? left : kStopPollMs));
    }
}

void tell(const ReporterConfig& config, ReporterEvent event, const char* address) {
    if (config.event)
        config.event(config.eventContext, event, address);
}

void setConnected(AgentState& state, const ReporterConfig& config, int32_t value) {
    state.reportConnected.store(value, std::memory_order_relaxed);
    if (config.invalidate)
        config.invalidate(config.invalidateContext);
}

// Connections taken from the listener that have not yet sent a request.
struct PendingConnections {
    TcpSocket socket[kPendingConnectionsMax];
    std::chrono::steady_clock::time_point acceptedAt[kPendingConnectionsMax];
    int count = 0;
};

void dropPending(PendingConnections& pending, int i) {
    tcpClose(pending.socket[i]);
    for (int k = i + 1; k < pending.count; ++k) {
        pending.socket[k - 1] = pending.socket[k];
        pending.acceptedAt[k - 1] = pending.acceptedAt[k];
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
    for (int i = 0; i < pending.count; ++i) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                        pending.acceptedAt[i] + std::chrono::milliseconds(config.requestWaitMs) - now)
                        .count() +
                    1;
        int ms = left < 0 ? 0 : static_cast<int>(left);
        if (wait < 0 || ms < wait)
            wait = ms;
    }
    return wait;
}

// Takes every connection waiting at the listener. Those from outside the
// allow list are closed unread; when all places are held, the oldest (which
// has been silent longest) gives way to the newcomer.
void acceptPending(const ReporterConfig& config, TcpSocket listener, PendingConnections& pending) {
    for (int taken = 0; taken < kPendingConnectionsMax; ++taken) {
        char peer[16] = {};
        TcpSocket connection = tcpAccept(listener, 0, peer);
        if (connection == kNoSocket)
            return;
        if (!allowListAdmitsText(config.allow, peer)) {
            tcpClose(connection);
            continue;
        }
        if (pending.count == kPendingConnectionsMax)
            dropPending(pending, 0);
        pending.socket[pending.count] = connection;
        pending.acceptedAt[pending.count] = std::chrono::steady_clock::now();
        ++pending.count;
    }
}

// A whole request (20 bytes in one receive) naming an address the allow list
// admits. A request naming any other address is ignored, as if never sent.
bool requestAccepted(const ReporterConfig& config, const uint8_t request[kRequestBytes]) {
    if (!config.allow || config.allow->count == 0)
        return true;
    char text[kAddressTextMax + 1];
    uint32_t address = 0;
    return readRequestAddress(request, text) && parseInetAddr(text, &address) &&
           allowListAdmits(config.allow, address);
}

} // namespace

bool awaitRequest(const ReporterConfig& config, uint8_t out[kRequestBytes], char localAddress[16]) {
    for (;;) {
        if (stopRequested(config))
            return false;
        netStartup();
        TcpSocket listener = tcpListen(config.bindAddress, config.listenPort, kPendingConnectionsMax);
        if (listener == kNoSocket) {
            // Port taken or no network: try again later rather than spin.
            netCleanup();
            pause(config, config.bindRetryMs);
            continue;
        }
        tell(config, ReporterEvent::Listening, nullptr);
        // Every connection is heard at once: a peer that connects and says
        // nothing costs a place among the pending, never the Agent's ear.
        PendingConnections pending;
        bool taken = false;
        while (!taken && !stopRequested(config)) {
            TcpSocket watched[kPendingConnectionsMax + 1];
            bool ready[kPendingConnectionsMax + 1];
            watched[0] = listener;
            for (int i = 0; i < pending.count; ++i)
                watched[i + 1] = pending.socket[i];
            int n = tcpWaitReadable(watched, pending.count + 1, listenWaitMs(config, pending), ready);
            if (n < 0) {
                pause(config, kAcceptPollMs);
                continue;
            }
            // From the newest down, so that dropping one leaves the indexes
            // of those still to be looked at unchanged.
            for (int i = pending.count - 1; i >= 0 && !taken; --i) {
                if (!ready[i + 1])
                    continue;
                std::memset(out, 0, kRequestBytes);
                int got = tcpRecvOnce(pending.socket[i], out, kRequestBytes, 0);
                if (got == kRequestBytes && requestAccepted(config, out)) {
                    if (localAddress && !tcpLocalAddress(pending.socket[i], localAddress))
                        localAddress[0] = '\0';
                    taken = true;
                } else if (got == kRequestBytes || got == 0 || got == -1) {
                    dropPending(pending, i);
                }
                // Otherwise part of a request: what came is not kept.
            }
            if (taken)
                break;
            auto now = std::chrono::steady_clock::now();
            for (int i = pending.count - 1; i >= 0; --i)
                if (now - pending.acceptedAt[i] >= std::chrono::milliseconds(config.requestWaitMs))
                    dropPending(pending, i);
            if (ready[0])
                acceptPending(config, listener, pending);
        }
        dropAllPending(pending);
        tcpClose(listener);
        netCleanup();
        if (taken)
            return true;
        std::memset(out, 0, kRequestBytes);
        return false;
    }
}

void serveRequest(AgentState& state, const ReporterConfig& config, const uint8_t request[kRequestBytes],
                  const char* requestLocalAddress) {
    netStartup();
    char text[kAddressTextMax + 1];
    uint32_t address = 0, local = 0;
    bool fromRequest =
        config.answerFromRequestAddress && requestLocalAddress && parseInetAddr(requestLocalAddress, &local);
    TcpSocket s = kNoSocket;
    char console[16] = {};
    if (readRequestAddress(request, text) && parseInetAddr(text, &address)) {
        formatInetAddr(address, console);
        s = tcpConnectFrom(fromRequest ? local : 0, address, config.reportPort, config.connectTimeoutMs);
    }
    if (s == kNoSocket) {
        setConnected(state, config, 0);
        tell(config, ReporterEvent::ConnectFailed, console[0] ? console : nullptr);
    } else {
        setConnected(state, config, 1);
        tell(config, ReporterEvent::Reporting, console);
        char label[16] = {};
        bool (*own)(char*) = config.ownAddress ? config.ownAddress : hostAddressLabel;
        if (fromRequest)
            formatInetAddr(local, label);
        else if (!own(label) && !tcpLocalAddress(s, label))
            label[0] = '\0';
        GpuSample samples[kGpuSlotCount];
        uint8_t block[kReportBlockBytes];
        while (state.reportConnected.load(std::memory_order_relaxed) == 1 && !stopRequested(config)) {
            snapshotSamples(state, samples);
            int count = state.gpuCount.load(std::memory_order_relaxed);
            buildReportBlock(samples, count, label, block);
            if (tcpSendOnce(s, block, kReportBlockBytes) != kReportBlockBytes) {
                setConnected(state, config, 0);
                tell(config, ReporterEvent::ConnectionLost, nullptr);
            }
            pause(config, config.reportPeriodMs);
        }
        if (stopRequested(config))
            state.reportConnected.store(0, std::memory_order_relaxed);
    }
    tcpClose(s);
    netCleanup();
}

void runReporter(AgentState& state, const ReporterConfig& config) {
    uint8_t request[kRequestBytes];
    char local[16];
    while (!stopRequested(config)) {
        std::memset(request, 0, sizeof request);
        local[0] = '\0';
        if (!awaitRequest(config, request, local))
            return;
        serveRequest(state, config, request, local);
        pause(config, config.restartPauseMs);
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
