#include "agent/transport.h"

#include "net/tcp.h"
#include "protocol/report_block.h"

#include <chrono>
#include <cstring>
#include <thread>

namespace {

constexpr int kAcceptPollMs = 200;

bool stopRequested(const ReporterConfig& config) {
    return config.stop && config.stop->load(std::memory_order_relaxed);
}

// Sleeps in short steps so that a stop request is seen promptly.
void pause(const ReporterConfig& config, int ms) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!stopRequested(config)) {
        auto now = std::chrono::steady_clock::now();
        if (now >= end)
            return;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - now).count();
        std::this_thread::sleep_for(std::chrono::milliseconds(left < 50 ? left : 50));
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

// Reads one request from an accepted connection within the configured time.
bool readRequest(const ReporterConfig& config, TcpSocket connection, uint8_t out[kRequestBytes]) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(config.requestWaitMs);
    for (;;) {
        if (stopRequested(config))
            return false;
        auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
                .count();
        if (left <= 0)
            return false;
        int wait = static_cast<int>(left < kAcceptPollMs ? left : kAcceptPollMs);
        int n = tcpRecvOnce(connection, out, kRequestBytes, wait);
        if (n == kRequestBytes)
            return true;
        if (n == 0 || n == -1)
            return false;
        // Time-out of this step, or a partial request: what came is not kept.
    }
}

} // namespace

bool awaitRequest(const ReporterConfig& config, uint8_t out[kRequestBytes], char localAddress[16]) {
    for (;;) {
        if (stopRequested(config))
            return false;
        netStartup();
        TcpSocket listener = tcpListen(config.bindAddress, config.listenPort, 1);
        if (listener == kNoSocket) {
            // Port taken or no network: try again later rather than spin.
            netCleanup();
            pause(config, config.bindRetryMs);
            continue;
        }
        tell(config, ReporterEvent::Listening, nullptr);
        for (;;) {
            if (stopRequested(config)) {
                tcpClose(listener);
                netCleanup();
                return false;
            }
            bool timedOut = false;
            char peer[16];
            TcpSocket connection = tcpAccept(listener, kAcceptPollMs, peer, &timedOut);
            if (connection == kNoSocket) {
                if (!timedOut)
                    pause(config, kAcceptPollMs);
                continue;
            }
            std::memset(out, 0, kRequestBytes);
            bool taken = readRequest(config, connection, out);
            if (taken && localAddress && !tcpLocalAddress(connection, localAddress))
                localAddress[0] = '\0';
            tcpClose(connection);
            if (taken) {
                tcpClose(listener);
                netCleanup();
                return true;
            }
        }
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
