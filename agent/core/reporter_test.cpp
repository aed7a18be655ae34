#include "agent/core/reporter.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/agent_peer.h"

namespace {

// What the program hears, as "repaint;reporting 127.0.0.1;".
struct Heard {
    std::mutex lock;
    std::string events;
};
void note(void* heard, const std::string& what) {
    std::lock_guard<std::mutex> lock(static_cast<Heard*>(heard)->lock);
    static_cast<Heard*>(heard)->events += what + ";";
}

struct ReporterRun {
    std::unique_ptr<AgentState> state = std::make_unique<AgentState>();
    ReporterConfig config;
    std::atomic<bool> stop{false};
    Heard heard;
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
        config.callbacks = {&heard, [](void* h) { note(h, "repaint"); },
                            [](void* h, ReporterEvent e, const char* address) {
                                const char* names[] = {"listening", "reporting", "connect-failed", "lost"};
                                note(h, names[static_cast<int>(e)] +
                                            (address ? " " + std::string(address) : ""));
                            },
                            [](void*, char[16]) { return false; }};
        config.stop = &stop;
    }
    void start() {
        thread = std::thread([this] { runReporter(*state, config); });
    }
    TcpSocket connectAgent(const char* from = "127.0.0.1") { return connectToAgent(listenPort, from, 3000); }
    std::string events() {
        std::lock_guard<std::mutex> lock(heard.lock);
        return heard.events;
    }
    ~ReporterRun() {
        stop.store(true);
        if (thread.joinable())
            thread.join();
        netCleanup();
    }
};

// A busy port is retried and a silent peer dropped after the bound; a request
// in two pieces is not taken. A whole request makes the Agent report to the
// named address, labelled with the connection's local address when it has no
// address of its own; after a report ends it listens again, and a failed
// connect back shows as the unchanged break. The program hears each step.
TEST(Transport, AgentListensAgainAfterEachConnectionEnds) {
    ReporterRun run;
    TcpSocket blocker = tcpListen("127.0.0.1", run.listenPort, 1);
    TcpSocket console = tcpListen("127.0.0.1", run.consolePort, 1);
    ASSERT_NE(kNoSocket, console);
    run.start();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    tcpClose(blocker);
    uint8_t bytes[kRequestBytes] = {};
    TcpSocket silent = run.connectAgent();
    EXPECT_EQ(0, tcpRecvOnce(silent, bytes, 1, 3000));
    tcpClose(silent);

    TcpSocket pieces = run.connectAgent();
    std::memcpy(bytes, "127.0.0.1", 10);
    tcpSendOnce(pieces, bytes, 10);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    tcpSendOnce(pieces, bytes + 10, 10);
    char peer[16];
    EXPECT_EQ(kNoSocket, tcpAccept(console, 600, peer));
    tcpClose(pieces);

    TcpSocket request = run.connectAgent();
    EXPECT_TRUE(sendReportRequest(request, "127.0.0.1", 0));
    tcpClose(request);
    TcpSocket report = tcpAccept(console, 3000, peer);
    // Blocks follow the sampler's latest values.
    run.state->slots[0].sample.graphicsClock.store(1001);
    const std::string expected = "127.0.0.1\n1\nExample GPU\nExample GPU (DP \x90\xDA\x91\xB1)\n0\n0\n1001\n";
    std::string block;
    bool seen = false;
    for (int i = 0; i < 20 && !seen && readReportBlock(report, &block); ++i)
        seen = block.compare(0, expected.size(), expected) == 0;
    EXPECT_TRUE(seen);
    tcpClose(report);
    tcpClose(console);
    request = run.connectAgent();
    EXPECT_TRUE(sendReportRequest(request, "127.0.0.1", 0x7F));
    tcpClose(request);
    const std::string events =
        "listening;repaint;reporting 127.0.0.1;repaint;lost;listening;repaint;connect-failed 127.0.0.1;";
    EXPECT_TRUE(eventually([&] { return run.events() == events; }, 3000)) << run.events();
    EXPECT_EQ(0, run.state->reportConnected.load());
}

// Other connections cost a Console's request nothing but their own: one
// naming no address is closed on its own at once, and one naming an address
// that never answers costs only the connect back's wait (a stop then ends it
// at once). Silent connections are heard beside it: five kept open by a patient
// peer (each one the Agent drops is opened again), twenty at once (the oldest
// give way) and the Console's own second connection that never carries data.
TEST(Transport, SilentConnectionsAndBadRequestsCostOnlyTheirOwn) {
    const struct {
        const char* named;
        int silent, keptOpenMs;
        bool stop;
    } cases[] = {{"not.an.address", 0, 0, false}, {"", 0, 0, false},         {"127.0.0.3", 0, 0, false},
                 {"127.0.0.3", 0, 0, true},       {nullptr, 5, 1500, false}, {nullptr, 20, 0, false}};
    for (const auto& c : cases) {
        ReporterRun run;
        run.config.connectTimeoutMs = c.stop ? 5000 : 500;
        run.config.requestWaitMs = c.named ? 5000 : 600;
        TcpSocket console = tcpListen("127.0.0.1", run.consolePort, 1);
        // 127.0.0.3 answers nothing: its one place in the queue is taken and
        // never accepted, so further connects to the port are not answered.
        uint32_t deafAddress = 0;
        parseInetAddr("127.0.0.3", &deafAddress);
        TcpSocket deaf[] = {tcpListen("127.0.0.3", run.consolePort, 0),
                            tcpConnect(deafAddress, run.consolePort, 300),
                            tcpConnect(deafAddress, run.consolePort, 300)};
        run.start();
        std::vector<TcpSocket> others(std::begin(deaf), std::end(deaf));
        const size_t silentFrom = others.size();
        for (int i = 0; i < c.silent; ++i)
            others.push_back(run.connectAgent());
        for (int pass = 0; pass < c.keptOpenMs / 20; ++pass) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            uint8_t byte;
            for (size_t i = silentFrom; i < others.size(); ++i)
                if (tcpRecvOnce(others[i], &byte, 1, 0) == 0) {
                    tcpClose(others[i]);
                    others[i] = run.connectAgent();
                }
        }
        TcpSocket good = run.connectAgent();
        others.push_back(run.connectAgent());
        if (c.named) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            EXPECT_TRUE(sendReportRequest(others.back(), c.named, 0x7F));
            // Closed on its own (unless told to stop meanwhile), long before its wait is up.
            uint8_t byte;
            int got = tcpRecvOnce(others.back(), &byte, 1, c.stop ? 100 : 1500);
            EXPECT_TRUE(c.stop || got == 0 || got == kTcpFailed) << c.named << " got " << got;
        }
        auto sent = std::chrono::steady_clock::now();
        if (c.stop) {
            run.stop.store(true);
            run.thread.join();
            EXPECT_LT(std::chrono::steady_clock::now() - sent, std::chrono::milliseconds(1500));
        } else {
            EXPECT_TRUE(sendReportRequest(good, "127.0.0.1", 0));
            char peer[16];
            TcpSocket report = tcpAccept(console, 3000, peer);
            EXPECT_NE(kNoSocket, report) << c.silent << (c.named ? c.named : "");
            // One at a time, each silent connection would cost requestWaitMs.
            EXPECT_TRUE(c.named || std::chrono::steady_clock::now() - sent < std::chrono::milliseconds(500));
            tcpClose(report);
        }
        for (TcpSocket s : others)
            tcpClose(s);
        tcpClose(good);
        tcpClose(console);
    }
}

// With an allow list, a connection from elsewhere is closed unread and a
// request naming an address outside the list is ignored; both leave the
// Agent listening for the next one. Told to answer from the request's
// address, it connects back from the address the request came to (not the
// system's pick, 127.0.0.1) and carries it as the label.
TEST(Transport, AllowListDecidesWhoMayAskAndWhereTo) {
    const struct {
        const char *from, *names, *answeredFrom;
    } cases[] = {{"127.0.0.2", "127.0.0.1", nullptr},
                 {"127.0.0.1", "127.0.0.3", nullptr},
                 {"127.0.0.4", "127.0.0.1", "127.0.0.2"}};
    AllowList allow;
    ASSERT_TRUE(parseAllowList("127.0.0.1,127.0.0.4/30", &allow));
    ReporterRun run;
    run.config.bindAddress = "0.0.0.0";
    run.config.allow = &allow;
    run.config.answerFromRequestAddress = true;
    run.start();
    uint32_t from = 0, to = 0;
    for (const auto& c : cases) {
        TcpSocket console = tcpListen(c.names, run.consolePort, 1);
        parseInetAddr(c.from, &from);
        parseInetAddr(c.answeredFrom ? c.answeredFrom : "127.0.0.1", &to);
        TcpSocket request = kNoSocket;
        eventually([&] { return (request = tcpConnectFrom(from, to, run.listenPort, 500)) != kNoSocket; },
                   3000);
        EXPECT_TRUE(sendReportRequest(request, c.names, 0));
        char peer[16] = {};
        TcpSocket report = tcpAccept(console, c.answeredFrom ? 3000 : 800, peer);
        std::string block;
        if (c.answeredFrom && readReportBlock(report, &block)) {
            EXPECT_EQ(std::string(c.answeredFrom) + "\n", block.substr(0, 10));
        }
        EXPECT_STREQ(c.answeredFrom ? c.answeredFrom : "", report != kNoSocket ? peer : "") << c.from;
        uint8_t byte;
        // Closed with the request unread: an orderly close or a reset.
        int got = c.answeredFrom ? 0 : tcpRecvOnce(request, &byte, 1, 1000);
        EXPECT_TRUE(got == 0 || got == kTcpFailed) << c.from << " got " << got;
        for (TcpSocket s : {report, request, console})
            tcpClose(s);
    }
}

} // namespace
