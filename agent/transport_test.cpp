#include "agent/transport.h"

#include "net/tcp.h"
#include "protocol/report_block.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#ifdef _WIN32
#include <process.h>
#define GAUGELINE_PID _getpid()
#else
#include <unistd.h>
#define GAUGELINE_PID getpid()
#endif

namespace {

using Clock = std::chrono::steady_clock;

uint32_t loopback() {
    uint32_t a = 0;
    parseInetAddr("127.0.0.1", &a);
    return a;
}

// Ports of this test program: distinct per process so that parallel runs of
// other programs do not collide, distinct per case so a lingering socket of
// one case does not disturb the next.
uint16_t basePort() {
    static uint16_t base = static_cast<uint16_t>(30000 + (GAUGELINE_PID % 1000) * 20);
    static int next = 0;
    return static_cast<uint16_t>(base + 2 * (next++ % 10));
}

bool fixedLabel(char out[16]) {
    std::strcpy(out, "192.0.2.20");
    return true;
}
bool noLabel(char[16]) {
    return false;
}

void countInvalidate(void* context) {
    static_cast<std::atomic<int>*>(context)->fetch_add(1);
}

struct ReporterRun {
    std::unique_ptr<AgentState> state = std::make_unique<AgentState>();
    ReporterConfig config;
    std::atomic<bool> stop{false};
    std::atomic<int> invalidations{0};
    std::thread thread;
    uint16_t listenPort;
    uint16_t consolePort;

    ReporterRun() {
        netStartup();
        listenPort = basePort();
        consolePort = static_cast<uint16_t>(listenPort + 1);
        resetAgentSlots(*state);
        state->gpuCount.store(1);
        std::wcscpy(state->slots[0].fullName, L"Example GPU");
        storeTabLabel(*state, 0, "Example GPU (DP \x90\xDA\x91\xB1)");
        state->slots[0].sample.graphicsClockSupported.store(1);
        state->slots[0].sample.graphicsClock.store(1733000);
        state->slots[0].sample.temperature.store(54);
        config.bindAddress = "127.0.0.1";
        config.listenPort = listenPort;
        config.reportPort = consolePort;
        config.requestWaitMs = 2000;
        config.connectTimeoutMs = 2000;
        config.reportPeriodMs = 50;
        config.bindRetryMs = 100;
        config.invalidate = countInvalidate;
        config.invalidateContext = &invalidations;
        config.ownAddress = fixedLabel;
        config.stop = &stop;
    }
    void start() {
        thread = std::thread([this] { runReporter(*state, config); });
    }
    ~ReporterRun() {
        stop.store(true);
        if (thread.joinable())
            thread.join();
        netCleanup();
    }
};

// Connects to the Agent's port, retrying while it is not yet listening.
TcpSocket connectAgent(uint16_t port, int withinMs) {
    auto end = Clock::now() + std::chrono::milliseconds(withinMs);
    do {
        TcpSocket s = tcpConnect(loopback(), port, 500);
        if (s != kNoSocket)
            return s;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    } while (Clock::now() < end);
    return kNoSocket;
}

void sendRequest(TcpSocket s, const char* address, uint8_t filler) {
    uint8_t request[kRequestBytes];
    std::memset(request, filler, sizeof request);
    std::memcpy(request, address, std::strlen(address) + 1);
    ASSERT_EQ(kRequestBytes, tcpSendOnce(s, request, kRequestBytes));
}

// Reads exactly n bytes (TCP may split a block).
bool recvAll(TcpSocket s, uint8_t* out, int n, int withinMs) {
    auto end = Clock::now() + std::chrono::milliseconds(withinMs);
    int got = 0;
    while (got < n) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
        if (left <= 0)
            return false;
        int r = tcpRecvOnce(s, out + got, n - got, static_cast<int>(left));
        if (r <= 0)
            return false;
        got += r;
    }
    return true;
}

template <typename F> bool waitFor(F condition, int withinMs) {
    auto end = Clock::now() + std::chrono::milliseconds(withinMs);
    while (Clock::now() < end) {
        if (condition())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return condition();
}

TEST(Transport, WholeRequestMakesTheAgentReportToTheNamedAddress) {
    struct Case {
        bool (*ownAddress)(char[16]);
        const char* label; // without an address of its own: the connection's local address
    } cases[] = {{fixedLabel, "192.0.2.20"}, {noLabel, "127.0.0.1"}};
    for (const Case& c : cases) {
        ReporterRun run;
        run.config.ownAddress = c.ownAddress;
        TcpSocket console = tcpListen("127.0.0.1", run.consolePort, 1);
        ASSERT_NE(kNoSocket, console);
        run.start();
        TcpSocket request = connectAgent(run.listenPort, 3000);
        sendRequest(request, "127.0.0.1", 0xAB);
        tcpClose(request);

        char peer[16];
        TcpSocket report = tcpAccept(console, 3000, peer);
        ASSERT_NE(kNoSocket, report);
        EXPECT_STREQ("127.0.0.1", peer);
        EXPECT_EQ(1, run.state->reportConnected.load());
        EXPECT_GE(run.invalidations.load(), 1);
        // The first block, and later ones following the sampler's latest values.
        for (uint32_t clock : {1733000u, 999u}) {
            run.state->slots[0].sample.graphicsClock.store(clock);
            GpuSample samples[kGpuSlotCount];
            snapshotSamples(*run.state, samples);
            uint8_t expected[kReportBlockBytes], block[kReportBlockBytes];
            buildReportBlock(samples, 1, c.label, expected);
            bool seen = false;
            for (int i = 0; i < 20 && !seen; ++i) {
                ASSERT_TRUE(recvAll(report, block, kReportBlockBytes, 3000));
                seen = std::memcmp(expected, block, kReportBlockBytes) == 0;
            }
            EXPECT_TRUE(seen) << c.label << " " << clock;
        }
        // While reporting the Agent does not listen.
        EXPECT_EQ(kNoSocket, tcpConnect(loopback(), run.listenPort, 500));
        tcpClose(report);
        tcpClose(console);
    }
}

// A busy port is retried and a silent peer dropped after the bound; a request
// in two pieces is not taken; after a report ends, and after a failed connect
// back (shown as the unchanged break), the Agent listens again.
TEST(Transport, AgentListensAgainAfterEachConnectionEnds) {
    ReporterRun run;
    run.config.requestWaitMs = 400;
    TcpSocket blocker = tcpListen("127.0.0.1", run.listenPort, 1);
    ASSERT_NE(kNoSocket, blocker);
    TcpSocket console = tcpListen("127.0.0.1", run.consolePort, 1);
    ASSERT_NE(kNoSocket, console);
    run.start();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    tcpClose(blocker);
    TcpSocket silent = connectAgent(run.listenPort, 3000);
    uint8_t bytes[kRequestBytes] = {};
    EXPECT_EQ(0, tcpRecvOnce(silent, bytes, 1, 3000));
    tcpClose(silent);

    TcpSocket pieces = connectAgent(run.listenPort, 3000);
    std::memcpy(bytes, "127.0.0.1", 10);
    ASSERT_EQ(10, tcpSendOnce(pieces, bytes, 10));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_EQ(10, tcpSendOnce(pieces, bytes + 10, 10));
    char peer[16];
    bool timedOut = false;
    EXPECT_EQ(kNoSocket, tcpAccept(console, 600, peer, &timedOut));
    EXPECT_TRUE(timedOut);
    tcpClose(pieces);

    for (int round = 0; round < 2; ++round) {
        TcpSocket request = connectAgent(run.listenPort, 3000);
        sendRequest(request, "127.0.0.1", 0);
        tcpClose(request);
        TcpSocket report = tcpAccept(console, 3000, peer);
        ASSERT_NE(kNoSocket, report) << round;
        ASSERT_TRUE(waitFor([&] { return run.state->reportConnected.load() == 1; }, 2000));
        int before = run.invalidations.load();
        tcpClose(report);
        ASSERT_TRUE(waitFor([&] { return run.state->reportConnected.load() == 0; }, 3000));
        EXPECT_GT(run.invalidations.load(), before);
    }
    tcpClose(console);
    for (const char* address : {"127.0.0.1", "not.an.address", ""}) {
        int before = run.invalidations.load();
        TcpSocket request = connectAgent(run.listenPort, 3000);
        sendRequest(request, address, 0x7F);
        tcpClose(request);
        EXPECT_TRUE(waitFor([&] { return run.invalidations.load() > before; }, 3000)) << address;
        EXPECT_EQ(0, run.state->reportConnected.load());
    }
    TcpSocket last = connectAgent(run.listenPort, 3000);
    EXPECT_NE(kNoSocket, last);
    tcpClose(last);
}

} // namespace
