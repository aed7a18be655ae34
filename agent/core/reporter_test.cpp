#include "agent/core/reporter.h"

#include "net/tcp.h"
#include "protocol/report_block.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/agent_peer.h"

namespace {

void countInvalidation(void* invalidations) {
    static_cast<std::atomic<int>*>(invalidations)->fetch_add(1);
}
bool noOwnAddress(void*, char[16]) {
    return false;
}

struct ReporterRun {
    std::unique_ptr<AgentState> state = std::make_unique<AgentState>();
    ReporterConfig config;
    std::atomic<bool> stop{false};
    std::atomic<int> invalidations{0};
    std::thread thread;
    uint16_t listenPort = testPorts(2);
    uint16_t consolePort = static_cast<uint16_t>(listenPort + 1);

    ReporterRun() {
        netStartup();
        state->gpuCount.store(1);
        std::wcscpy(state->slots[0].fullName, L"Example GPU");
        storeTabLabel(*state, 0, "Example GPU (DP \x90\xDA\x91\xB1)");
        config.bindAddress = "127.0.0.1";
        config.listenPort = listenPort;
        config.reportPort = consolePort;
        config.requestWaitMs = 400;
        config.reportPeriodMs = 50;
        config.bindRetryMs = 100;
        config.callbacks.context = &invalidations;
        config.callbacks.invalidate = countInvalidation;
        config.callbacks.ownAddress = noOwnAddress;
        config.stop = &stop;
    }
    TcpSocket connectAgent() { return connectToAgent(listenPort, "127.0.0.1", 3000); }
    ~ReporterRun() {
        stop.store(true);
        if (thread.joinable())
            thread.join();
        netCleanup();
    }
};

// 127.0.0.3 answers nothing: its one place in the queue is taken and never
// accepted, so further connects to the port are not answered.
struct DeafConsole {
    TcpSocket listener, queued = kNoSocket, unanswered = kNoSocket;
    explicit DeafConsole(uint16_t port) : listener(tcpListen("127.0.0.3", port, 0)) {
        uint32_t address = 0;
        parseInetAddr("127.0.0.3", &address);
        EXPECT_NE(kNoSocket, listener);
        queued = tcpConnect(address, port, 300);
        unanswered = tcpConnect(address, port, 300);
    }
    ~DeafConsole() {
        for (TcpSocket s : {queued, unanswered, listener})
            tcpClose(s);
    }
};

// A busy port is retried and a silent peer dropped after the bound; a request
// in two pieces is not taken. A whole request makes the Agent report to the
// named address, labelled with the connection's local address when it has no
// address of its own; after a report ends it listens again, and a failed
// connect back shows as the unchanged break.
TEST(Transport, AgentListensAgainAfterEachConnectionEnds) {
    ReporterRun run;
    TcpSocket blocker = tcpListen("127.0.0.1", run.listenPort, 1);
    ASSERT_NE(kNoSocket, blocker);
    TcpSocket console = tcpListen("127.0.0.1", run.consolePort, 1);
    ASSERT_NE(kNoSocket, console);
    run.thread = std::thread([&run] { runReporter(*run.state, run.config); });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    tcpClose(blocker);
    TcpSocket silent = run.connectAgent();
    uint8_t bytes[kRequestBytes] = {};
    EXPECT_EQ(0, tcpRecvOnce(silent, bytes, 1, 3000));
    tcpClose(silent);

    TcpSocket pieces = run.connectAgent();
    std::memcpy(bytes, "127.0.0.1", 10);
    ASSERT_EQ(10, tcpSendOnce(pieces, bytes, 10));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_EQ(10, tcpSendOnce(pieces, bytes + 10, 10));
    char peer[16];
    EXPECT_EQ(kNoSocket, tcpAccept(console, 600, peer));
    tcpClose(pieces);

    for (int round = 0; round < 2; ++round) {
        TcpSocket request = run.connectAgent();
        EXPECT_TRUE(sendReportRequest(request, "127.0.0.1", 0));
        tcpClose(request);
        TcpSocket report = tcpAccept(console, 3000, peer);
        ASSERT_NE(kNoSocket, report) << round;
        EXPECT_STREQ("127.0.0.1", peer);
        ASSERT_TRUE(eventually([&] { return run.state->reportConnected.load() == 1; }, 2000));
        // Blocks follow the sampler's latest values.
        run.state->slots[0].sample.graphicsClock.store(1000 + round);
        const std::string expected = "127.0.0.1\n1\nExample GPU\nExample GPU (DP \x90\xDA\x91\xB1)\n0\n0\n" +
                                     std::to_string(1000 + round) + "\n";
        std::string block;
        bool seen = false;
        for (int i = 0; i < 20 && !seen; ++i) {
            ASSERT_TRUE(readReportBlock(report, &block));
            seen = block.compare(0, expected.size(), expected) == 0;
        }
        EXPECT_TRUE(seen) << round;
        int before = run.invalidations.load();
        tcpClose(report);
        ASSERT_TRUE(eventually([&] { return run.state->reportConnected.load() == 0; }, 3000));
        EXPECT_GT(run.invalidations.load(), before);
    }
    tcpClose(console);
    int before = run.invalidations.load();
    TcpSocket request = run.connectAgent();
    EXPECT_TRUE(sendReportRequest(request, "127.0.0.1", 0x7F));
    tcpClose(request);
    EXPECT_TRUE(eventually([&] { return run.invalidations.load() > before; }, 3000));
    EXPECT_EQ(0, run.state->reportConnected.load());
}

// A request that names no address is closed on its own, and one naming an
// address that never answers costs only the connect back's wait: a Console
// that connected before either, and sends its request meanwhile, is served.
TEST(Transport, BadRequestCostsOnlyItsOwnConnection) {
    const char* named[] = {"not.an.address", "", "127.0.0.3"};
    for (const char* address : named) {
        ReporterRun run;
        run.config.connectTimeoutMs = 500;
        TcpSocket console = tcpListen("127.0.0.1", run.consolePort, 1);
        ASSERT_NE(kNoSocket, console);
        DeafConsole deaf(run.consolePort);
        run.thread = std::thread([&run] { runReporter(*run.state, run.config); });
        TcpSocket good = run.connectAgent();
        TcpSocket bad = run.connectAgent();
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        EXPECT_TRUE(sendReportRequest(bad, address, 0x7F));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        EXPECT_TRUE(sendReportRequest(good, "127.0.0.1", 0));
        char peer[16];
        TcpSocket report = tcpAccept(console, 3000, peer);
        EXPECT_NE(kNoSocket, report) << address;
        tcpClose(report);
        tcpClose(good);
        tcpClose(bad);
        tcpClose(console);
    }
}

// A program told to stop while the Agent connects back to an address that
// never answers ends promptly, not after the connect's time-out.
TEST(Transport, StopEndsAConnectBackInProgress) {
    ReporterRun run;
    run.config.connectTimeoutMs = 5000;
    DeafConsole deaf(run.consolePort);
    run.thread = std::thread([&run] { runReporter(*run.state, run.config); });
    TcpSocket request = run.connectAgent();
    EXPECT_TRUE(sendReportRequest(request, "127.0.0.3", 0));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    auto stopped = std::chrono::steady_clock::now();
    run.stop.store(true);
    run.thread.join();
    auto took =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - stopped);
    EXPECT_LT(took.count(), 1500);
    tcpClose(request);
}

// The report connection of an Agent told to answer from the request's address
// leaves from the address the request came to and carries it as the label;
// otherwise the system picks the source. The program hears each step.
TEST(Transport, AnswersFromTheAddressTheRequestCameTo) {
    struct Case {
        bool fromRequest;
        const char* peer;
    } cases[] = {{false, "127.0.0.1"}, {true, "127.0.0.2"}};
    for (const Case& c : cases) {
        ReporterRun run;
        run.config.bindAddress = "0.0.0.0";
        run.config.answerFromRequestAddress = c.fromRequest;
        static std::string events;
        events.clear();
        run.config.callbacks.event = [](void*, ReporterEvent e, const char* address) {
            const char* names[] = {"listening", "reporting", "connect-failed", "lost"};
            events +=
                std::string(names[static_cast<int>(e)]) + (address ? std::string(" ") + address : "") + ";";
        };
        TcpSocket console = tcpListen("127.0.0.1", run.consolePort, 1);
        ASSERT_NE(kNoSocket, console);
        run.thread = std::thread([&run] { runReporter(*run.state, run.config); });
        uint32_t second = 0;
        parseInetAddr("127.0.0.2", &second);
        TcpSocket request = kNoSocket;
        eventually([&] { return (request = tcpConnect(second, run.listenPort, 500)) != kNoSocket; }, 3000);
        EXPECT_TRUE(sendReportRequest(request, "127.0.0.1", 0));
        tcpClose(request);
        char peer[16] = {};
        TcpSocket report = tcpAccept(console, 3000, peer);
        ASSERT_NE(kNoSocket, report);
        EXPECT_STREQ(c.peer, peer);
        std::string block;
        ASSERT_TRUE(readReportBlock(report, &block));
        EXPECT_EQ(std::string(c.peer) + "\n", block.substr(0, std::strlen(c.peer) + 1));
        tcpClose(report);
        tcpClose(console);
        EXPECT_TRUE(eventually([&] { return run.state->reportConnected.load() == 0; }, 3000));
        run.stop.store(true);
        run.thread.join();
        const std::string expected = "listening;reporting 127.0.0.1;lost;";
        EXPECT_EQ(expected, events.substr(0, expected.size()));
    }
}

// Silent connections are heard beside the good one: five kept open by a
// patient peer (each one the Agent drops is opened again) do not delay a
// request, nor do twenty at once (the oldest give way), nor a Console's own
// second connection that never carries data.
TEST(Transport, SilentConnectionsDoNotHoldTheAgentDeaf) {
    struct Case {
        int silent;
        int keptOpenMs;
    } cases[] = {{5, 1500}, {20, 0}};
    for (const Case& c : cases) {
        ReporterRun run;
        run.config.requestWaitMs = 600;
        TcpSocket console = tcpListen("127.0.0.1", run.consolePort, 1);
        ASSERT_NE(kNoSocket, console);
        run.thread = std::thread([&run] { runReporter(*run.state, run.config); });
        std::vector<TcpSocket> silent;
        for (int i = 0; i < c.silent; ++i)
            silent.push_back(run.connectAgent());
        // The patient peer: whatever the Agent closes is opened again.
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(c.keptOpenMs);
        while (std::chrono::steady_clock::now() < end) {
            for (TcpSocket& s : silent) {
                uint8_t byte;
                if (tcpRecvOnce(s, &byte, 1, 0) == 0) {
                    tcpClose(s);
                    s = run.connectAgent();
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        TcpSocket second = run.connectAgent();
        TcpSocket request = run.connectAgent();
        auto sent = std::chrono::steady_clock::now();
        EXPECT_TRUE(sendReportRequest(request, "127.0.0.1", 0));
        char peer[16];
        TcpSocket report = tcpAccept(console, 3000, peer);
        auto waited =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - sent);
        EXPECT_NE(kNoSocket, report) << c.silent;
        // One at a time, each silent connection would cost requestWaitMs.
        EXPECT_LT(waited.count(), 500) << c.silent;
        tcpClose(report);
        tcpClose(request);
        tcpClose(second);
        for (TcpSocket s : silent)
            tcpClose(s);
        tcpClose(console);
    }
}

// With an allow list, a connection from elsewhere is closed unread and a
// request naming an address outside the list is ignored; both leave the
// Agent listening for the next one.
TEST(Transport, AllowListDecidesWhoMayAskAndWhereTo) {
    struct Case {
        const char* from;
        const char* names;
        bool served;
    } cases[] = {
        {"127.0.0.2", "127.0.0.1", false}, // asker outside the list
        {"127.0.0.1", "127.0.0.3", false}, // names an address outside it
        {"127.0.0.1", "127.0.0.1", true},
        {"127.0.0.4", "127.0.0.1", true}, // in the /30 block
    };
    AllowList allow;
    ASSERT_TRUE(parseAllowList("127.0.0.1,127.0.0.4/30", &allow));
    ReporterRun run;
    run.config.bindAddress = "0.0.0.0";
    run.config.allow = &allow;
    run.thread = std::thread([&run] { runReporter(*run.state, run.config); });
    for (const Case& c : cases) {
        TcpSocket console = tcpListen(c.names, run.consolePort, 1);
        ASSERT_NE(kNoSocket, console) << c.names;
        TcpSocket request = connectToAgent(run.listenPort, c.from, 3000);
        ASSERT_NE(kNoSocket, request);
        EXPECT_TRUE(sendReportRequest(request, c.names, 0));
        char peer[16];
        TcpSocket report = tcpAccept(console, c.served ? 3000 : 800, peer);
        EXPECT_EQ(c.served, report != kNoSocket) << c.from << " asking for " << c.names;
        // Until the Agent counts the connection as its own, the listener may still take the next request.
        if (report != kNoSocket)
            eventually([&] { return run.state->reportConnected.load() == 1; }, 3000);
        if (!c.served) {
            uint8_t byte;
            // Closed with the request unread: an orderly close or a reset.
            int got = tcpRecvOnce(request, &byte, 1, 1000);
            EXPECT_TRUE(got == 0 || got == kTcpFailed) << "closed: " << c.from << " got " << got;
        }
        tcpClose(report);
        tcpClose(request);
        tcpClose(console);
        eventually([&] { return run.state->reportConnected.load() == 0; }, 3000);
    }
}

} // namespace
