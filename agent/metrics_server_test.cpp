#include "agent/metrics_server.h"

#include "agent/metrics_text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <cwchar>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <process.h>
#define GAUGELINE_PID _getpid()
#else
#include <sys/resource.h>
#include <unistd.h>
#define GAUGELINE_PID getpid()
#endif

namespace {

// Per process, apart from the ranges of the other socket tests, and below the
// ephemeral range; each run in a program takes the next port.
uint16_t nextPort() {
    static uint16_t port = static_cast<uint16_t>(15000 + (GAUGELINE_PID % 300) * 20);
    return port++;
}

const char kScrape[] = "GET /metrics HTTP/1.1\r\nHost: agent\r\n\r\n";

uint32_t address(const char* dotted) {
    uint32_t a = 0;
    parseInetAddr(dotted, &a);
    return a;
}

struct MetricsRun {
    std::unique_ptr<AgentState> state = std::make_unique<AgentState>();
    AllowList allow;
    MetricsConfig config;
    std::atomic<bool> stop{false};
    std::thread thread;

    explicit MetricsRun(int requestWaitMs, const char* allowText = nullptr) {
        netStartup();
        resetAgentSlots(*state);
        state->gpuCount.store(1);
        std::wcscpy(state->slots[0].fullName, L"Example GPU");
        state->slots[0].sample.temperatureSupported.store(1);
        state->slots[0].sample.temperature.store(54);
        config.port = nextPort();
        config.requestWaitMs = requestWaitMs;
        config.sendWaitMs = 1000;
        config.stop = &stop;
        if (allowText && parseAllowList(allowText, &allow))
            config.allow = &allow;
        TcpSocket listener = openMetricsListener(config);
        EXPECT_NE(kNoSocket, listener);
        thread = std::thread([this, listener] { runMetricsServer(*state, config, listener); });
    }
    ~MetricsRun() {
        stop.store(true);
        thread.join();
        netCleanup();
    }
    TcpSocket connect(const char* from = "127.0.0.1") {
        return tcpConnectFrom(address(from), address("127.0.0.1"), config.port, 3000);
    }
    std::string expectedAnswer() {
        GpuSample samples[kGpuSlotCount];
        snapshotSamples(*state, samples);
        std::string text = metricsText(samples, 1);
        return "HTTP/1.1 200 OK\r\nContent-Type: text/plain; version=0.0.4; "
               "charset=utf-8\r\nContent-Length: " +
               std::to_string(text.size()) + "\r\nConnection: close\r\n\r\n" + text;
    }
};

// What the server sends until it closes; "<open>" marks a connection still
// open after 3 s without anything more.
std::string untilClosed(TcpSocket s) {
    std::string got;
    char buffer[4096];
    int n;
    while ((n = tcpRecvOnce(s, buffer, sizeof buffer, 3000)) > 0)
        got.append(buffer, n);
    if (n == -2)
        got += "<open>";
    tcpClose(s);
    return got;
}

std::string exchange(TcpSocket s, const std::string& request) {
    if (s == kNoSocket)
        return "<no connection>";
    tcpSendAll(s, request.data(), static_cast<int>(request.size()), 3000);
    return untilClosed(s);
}

std::string firstLine(const std::string& answer) {
    return answer.substr(0, answer.find("\r\n"));
}

TEST(MetricsServer, EndpointTextIsAStrictAddressAndPort) {
    struct Case {
        const char* text;
        bool valid;
    } cases[] = {
        {"127.0.0.1:58681", true},
        {"0.0.0.0:1", true},
        {"255.255.255.255:65535", true},
        {"127.0.0.1", false},
        {"127.0.0.1:", false},
        {"127.0.0.1:0", false},
        {"127.0.0.1:65536", false},
        {"127.1:80", false},
        {"127.0.0.01:80", false},
        {"1.2.3.4:080", false},
        {"256.0.0.1:80", false},
        {"1.2.3.4:80 ", false},
        {" 1.2.3.4:80", false},
        {"agent:80", false},
        {"1.2.3.4.5:80", false},
        {"1.2.3.4:123456", false},
        {"", false},
    };
    for (const Case& c : cases) {
        char address[16] = "unchanged";
        uint16_t port = 7;
        EXPECT_EQ(c.valid, parseMetricsEndpoint(c.text, address, &port)) << c.text;
        std::string expected = c.valid ? std::string(c.text) : "unchanged:7";
        EXPECT_EQ(expected, std::string(address) + ":" + std::to_string(port)) << c.text;
    }
}

// Each request gets its answer from the newest sample, then the connection
// is closed; a request head that stops half-way is dropped unanswered.
TEST(MetricsServer, AnswersEachRequestThenCloses) {
    MetricsRun run(300);
    EXPECT_EQ(run.expectedAnswer(), exchange(run.connect(), kScrape));
    run.state->slots[0].sample.temperature.store(-3);
    std::string answer = exchange(run.connect(), kScrape);
    EXPECT_EQ(run.expectedAnswer(), answer);
    EXPECT_NE(std::string::npos, answer.find("\ngaugeline_gpu_temperature_celsius{gpu=\"0\"} -3\n"));
    const std::string head = run.expectedAnswer();
    EXPECT_EQ(head.substr(0, head.find("\r\n\r\n") + 4),
              exchange(run.connect(), "HEAD /metrics HTTP/1.0\r\n\r\n"));
    EXPECT_EQ("HTTP/1.1 404 Not Found", firstLine(exchange(run.connect(), "GET / HTTP/1.0\r\n\r\n")));
    EXPECT_EQ("HTTP/1.1 400 Bad Request", firstLine(exchange(run.connect(), "garbage\r\n\r\n")));
    EXPECT_EQ("", exchange(run.connect(), "GET /metrics HTTP/1.1\r\n"));
}

// A request line of 1 MB is refused once the 8 KiB buffer is full, while
// the client is still sending; the next scrape is served.
TEST(MetricsServer, OverlongRequestIsRefusedAndServingGoesOn) {
    MetricsRun run(300);
    TcpSocket s = run.connect();
    ASSERT_NE(kNoSocket, s);
    std::string huge = "GET /metrics?" + std::string(1 << 20, 'a');
    std::thread sender([&] { tcpSendAll(s, huge.data(), static_cast<int>(huge.size()), 3000); });
    std::string answer;
    char buffer[4096];
    for (int n; (n = tcpRecvOnce(s, buffer, sizeof buffer, 3000)) > 0;)
        answer.append(buffer, n);
    sender.join();
    tcpClose(s);
    EXPECT_EQ("HTTP/1.1 400 Bad Request", firstLine(answer));
    EXPECT_EQ(run.expectedAnswer(), exchange(run.connect(), kScrape));
}

// Four silent connections are all the server holds; a fifth, a scraper,
// takes the place of the oldest at once instead of waiting for the silent
// ones to time out (10 s here).
TEST(MetricsServer, SilentConnectionsGiveWayToAScrape) {
    MetricsRun run(10000);
    std::vector<TcpSocket> silent;
    for (int i = 0; i < kMetricsConnectionsMax; ++i)
        silent.push_back(run.connect());
    EXPECT_EQ(run.expectedAnswer(), exchange(run.connect(), kScrape));
    EXPECT_EQ("", untilClosed(silent[0]));
    char c;
    for (int i = 1; i < kMetricsConnectionsMax; ++i) {
        EXPECT_EQ(-2, tcpRecvOnce(silent[i], &c, 1, 100)) << i;
        tcpClose(silent[i]);
    }
}

// 500 connections that send nothing and close hold nothing, not even a
// socket: with room for 128 descriptors, scrapes between them are served.
// (In tens, which the listen backlog always takes.)
TEST(MetricsServer, EmptyConnectionsLeaveNoTrace) {
#ifndef _WIN32
    rlimit before;
    getrlimit(RLIMIT_NOFILE, &before);
    rlimit low = before;
    low.rlim_cur = 128;
    setrlimit(RLIMIT_NOFILE, &low);
#endif
    {
        MetricsRun run(300);
        for (int round = 0; round < 50; ++round) {
            TcpSocket idle[10];
            for (TcpSocket& s : idle)
                EXPECT_NE(kNoSocket, s = run.connect());
            for (TcpSocket s : idle)
                tcpClose(s);
            ASSERT_EQ(run.expectedAnswer(), exchange(run.connect(), kScrape)) << round;
        }
    }
#ifndef _WIN32
    setrlimit(RLIMIT_NOFILE, &before);
#endif
}

TEST(MetricsServer, AllowListClosesOthersUnread) {
    MetricsRun run(300, "127.0.0.1");
    EXPECT_EQ("", exchange(run.connect("127.0.0.2"), kScrape));
    EXPECT_EQ(run.expectedAnswer(), exchange(run.connect("127.0.0.1"), kScrape));
}

} // namespace
