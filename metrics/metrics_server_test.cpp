#include "metrics/metrics_server.h"

#include <gtest/gtest.h>

#include <cwchar>
#include <memory>
#include <string>
#include <thread>

#include "tests/support/agent_peer.h"
#ifndef _WIN32
#include <sys/resource.h>
#endif

namespace {

struct MetricsRun {
    std::unique_ptr<AgentState> state = std::make_unique<AgentState>();
    MetricsConfig config;
    std::atomic<bool> stop{false};
    std::thread thread;

    explicit MetricsRun(int requestWaitMs) {
        static uint16_t nextPort = testPorts(1);
        netStartup();
        state->gpuCount.store(1);
        state->slots[0].sample.temperatureSupported.store(1);
        state->slots[0].sample.temperature.store(54);
        noteReading(state->slots[0]);
        config.port = nextPort++;
        config.requestWaitMs = requestWaitMs;
        config.stop = &stop;
        TcpSocket listener = openMetricsListener(config);
        EXPECT_NE(kNoSocket, listener);
        thread = std::thread([this, listener] { runMetricsServer(*state, config, listener); });
    }
    ~MetricsRun() {
        stop.store(true);
        thread.join();
        netCleanup();
    }
    TcpSocket connect(const char* from = "127.0.0.1") { return connectToAgent(config.port, from); }
};

// The whole answer to a scrape with the GPU at the temperature (695 bytes of
// text: the temperature takes two characters).
const std::string kScrapeHead =
    "HTTP/1.1 200 OK\r\nContent-Type: text/plain; version=0.0.4; charset=utf-8\r\n"
    "Content-Length: 695\r\nConnection: close\r\n\r\n";
std::string scrapeAnswer(const char* temperature) {
    return kScrapeHead +
           "# HELP gaugeline_build_info The Agent's version; always 1.\n"
           "# TYPE gaugeline_build_info gauge\ngaugeline_build_info{version=\"1.0.0\"} 1\n"
           "# HELP gaugeline_gpu_info The GPU in each slot: name, PCI bus id, driver version; always 1.\n"
           "# TYPE gaugeline_gpu_info gauge\n"
           "gaugeline_gpu_info{gpu=\"0\",uuid=\"\",name=\"\",pci_bus_id=\"\",driver_version=\"\"} 1\n"
           "# HELP gaugeline_gpu_up 1 while the GPU gave a reading in the last 5 s; 0 otherwise, "
           "and its readings are left out.\n"
           "# TYPE gaugeline_gpu_up gauge\ngaugeline_gpu_up{gpu=\"0\",uuid=\"\"} 1\n"
           "# HELP gaugeline_gpu_temperature_celsius GPU temperature in degrees Celsius.\n"
           "# TYPE gaugeline_gpu_temperature_celsius gauge\n"
           "gaugeline_gpu_temperature_celsius{gpu=\"0\",uuid=\"\"} " +
           temperature + "\n";
}

// What comes back until the endpoint ends the connection, and how it ends:
// nothing more when it closes, "<reset>" or "<open>" after 3 s of silence.
std::string ask(MetricsRun& run, const std::string& request) {
    TcpSocket s = run.connect();
    tcpSendAll(s, request.data(), static_cast<int>(request.size()), 3000);
    std::string got;
    char buffer[4096];
    int n;
    while ((n = tcpRecvOnce(s, buffer, sizeof buffer, 3000)) > 0)
        got.append(buffer, n);
    tcpClose(s);
    return got + (n == 0 ? "" : n == kTcpFailed ? "<reset>" : "<open>");
}

// Each request gets its answer from the newest sample, then the connection is
// closed. A request head that stops half-way is dropped unanswered; one of
// 1 MB is refused once 8 KiB have come, while the client still sends. One the
// endpoint answers before reading all of it (a POST with its body sent at
// once) still gets its whole answer and an orderly end, not a reset that makes
// a client drop what it got (several rounds: a reset races with the reading).
TEST(MetricsServer, AnswersEachRequestThenCloses) {
    MetricsRun run(300);
    EXPECT_EQ(scrapeAnswer("54"), ask(run, kScrapeRequest));
    run.state->slots[0].sample.temperature.store(-3);
    const std::string text = "Content-Type: text/plain; charset=utf-8\r\nContent-Length: ";
    const struct {
        std::string request, answer;
    } cases[] = {
        {kScrapeRequest, scrapeAnswer("-3")},
        {"HEAD /metrics HTTP/1.0\r\n\r\n", kScrapeHead},
        {"GET / HTTP/1.0\r\n\r\n",
         "HTTP/1.1 404 Not Found\r\n" + text +
             "40\r\nConnection: close\r\n\r\nNot found: the metrics are at /metrics.\n"},
        {"GET /metrics?" + std::string(1 << 20, 'a'),
         "HTTP/1.1 400 Bad Request\r\n" + text + "13\r\nConnection: close\r\n\r\nBad request.\n"},
        {"GET /metrics HTTP/1.1\r\n", ""},
        {"POST /metrics HTTP/1.1\r\nHost: agent\r\nContent-Length: 65536\r\n\r\n" + std::string(65536, 'x'),
         "HTTP/1.1 405 Method Not Allowed\r\n" + text +
             "30\r\nAllow: GET, HEAD\r\nConnection: close\r\n\r\nOnly GET and HEAD are served.\n"},
    };
    for (int round = 0; round < 3; ++round)
        for (const auto& c : cases)
            EXPECT_EQ(c.answer, ask(run, c.request)) << c.request.substr(0, 30);
}

// 500 connections that send nothing and close hold nothing, not even a
// socket: with room for 128 descriptors, scrapes between them are served (in
// tens, which the listen backlog always takes). While four silent connections
// from two hosts are held, a scraper takes the place of the oldest of the
// busiest at once instead of waiting for them to time out (10 s here).
TEST(MetricsServer, SilentAndEmptyConnectionsGiveWayToAScrape) {
#ifndef _WIN32
    rlimit before, low;
    getrlimit(RLIMIT_NOFILE, &before);
    low = before;
    low.rlim_cur = 128;
    setrlimit(RLIMIT_NOFILE, &low);
#endif
    {
        MetricsRun run(10000);
        for (int round = 0; round < 50; ++round) {
            TcpSocket idle[10];
            for (TcpSocket& s : idle)
                s = run.connect();
            for (TcpSocket s : idle)
                tcpClose(s);
            ASSERT_EQ(scrapeAnswer("54"), ask(run, kScrapeRequest)) << round;
        }
        const char* hosts[] = {"127.0.0.2", "127.0.0.2", "127.0.0.2", "127.0.0.3", "127.0.0.3"};
        TcpSocket silent[5];
        for (int i = 0; i < 5; ++i) {
            silent[i] = run.connect(hosts[i]);
            // One host holds two places: its third connection pushes out its first.
            if (i == 2) {
                EXPECT_EQ("", exchange(silent[0], ""));
            }
        }
        EXPECT_EQ(scrapeAnswer("54"), ask(run, kScrapeRequest));
        EXPECT_EQ("", exchange(silent[1], ""));
        for (int i = 2; i < 5; ++i) {
            char c;
            EXPECT_EQ(kTcpTimedOut, tcpRecvOnce(silent[i], &c, 1, 100)) << i;
            tcpClose(silent[i]);
        }
    }
#ifndef _WIN32
    setrlimit(RLIMIT_NOFILE, &before);
#endif
}

} // namespace
