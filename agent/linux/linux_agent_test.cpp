// The Linux Agent as its users run it: the real program against the simulated
// NVML library (LD_LIBRARY_PATH), asked for reports by this test acting as the
// Console on loopback, with ports of its own.
#include "net/tcp.h"
#include "protocol/wire.h"
#include "tests/support/wait.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <fstream>
#include <set>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

// A machine with the NVIDIA driver finds the real library without our path.
bool dlopenWouldFindSystemNvml() {
    void* library = dlopen("libnvidia-ml.so.1", RTLD_LAZY | RTLD_LOCAL);
    if (library)
        dlclose(library);
    return library != nullptr;
}

const uint16_t kBasePort = static_cast<uint16_t>(13000 + (getpid() % 500) * 4);

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

struct AgentProcess {
    pid_t pid = -1;
    std::string dir;
    uint16_t listenPort = kBasePort, reportPort = static_cast<uint16_t>(kBasePort + 1),
             metricsPort = static_cast<uint16_t>(kBasePort + 2);

    // Starts the Agent with the scenario; libraryDir "" leaves the simulated
    // NVML out of the library path.
    bool start(const std::string& scenario, const std::string& libraryDir = GAUGELINE_SIM_LINUX_DIR,
               const std::vector<std::string>& extra = {}) {
        char pattern[] = "/tmp/gl-linux-agent-XXXXXX";
        dir = mkdtemp(pattern);
        std::ofstream(dir + "/test.scenario") << scenario;
        std::vector<std::string> env;
        for (char** e = environ; *e; ++e)
            if (std::strncmp(*e, "LD_LIBRARY_PATH=", 16) != 0 &&
                std::strncmp(*e, "GAUGELINE_SIM_SCENARIO=", 23) != 0)
                env.push_back(*e);
        env.push_back("LD_LIBRARY_PATH=" + (libraryDir.empty() ? dir : libraryDir));
        env.push_back("GAUGELINE_SIM_SCENARIO=" + dir + "/test.scenario");
        std::vector<std::string> args = {GAUGELINE_LINUX_AGENT,
                                         "--bind",
                                         "127.0.0.1",
                                         "--listen-port",
                                         std::to_string(listenPort),
                                         "--report-port",
                                         std::to_string(reportPort)};
        args.insert(args.end(), extra.begin(), extra.end());
        std::vector<char*> argv, envp;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        for (auto& e : env)
            envp.push_back(e.data());
        envp.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 2, (dir + "/stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0600);
        int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        return rc == 0;
    }
    std::string statusLines() const { return readFile(dir + "/stderr"); }
    // The exit status, or -1 when the Agent is still running after withinMs.
    int waitExit(int withinMs) {
        int status = 0;
        if (pid <= 0 || !eventually([&] { return waitpid(pid, &status, WNOHANG) == pid; }, withinMs, 20))
            return -1;
        pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    int stop(int signal = SIGTERM) {
        kill(pid, signal);
        return waitExit(10000);
    }
    ~AgentProcess() {
        if (pid > 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        if (!dir.empty())
            std::system(("rm -rf " + dir).c_str());
    }
};

// Acts as the Console at from: listens for the report connection, sends the
// request naming 127.0.0.1 and returns the accepted report connection.
TcpSocket askForReports(const AgentProcess& agent, const char* from = "127.0.0.1", int acceptMs = 10000) {
    uint32_t loopback = 0, local = 0;
    parseInetAddr("127.0.0.1", &loopback);
    parseInetAddr(from, &local);
    TcpSocket listener = tcpListen("127.0.0.1", agent.reportPort, 1);
    TcpSocket request = kNoSocket;
    eventually(
        [&] { return (request = tcpConnectFrom(local, loopback, agent.listenPort, 500)) != kNoSocket; },
        10000, 100);
    uint8_t bytes[kRequestBytes] = "127.0.0.1";
    if (request == kNoSocket || tcpSendOnce(request, bytes, kRequestBytes) != kRequestBytes)
        return kNoSocket;
    tcpClose(request);
    char peer[16];
    TcpSocket report = tcpAccept(listener, acceptMs, peer);
    tcpClose(listener);
    return report;
}

bool readBlock(TcpSocket s, std::string* block) {
    block->assign(kReportBlockBytes, '\0');
    for (int got = 0, r = 0; got < kReportBlockBytes; got += r)
        if ((r = tcpRecvOnce(s, &(*block)[got], kReportBlockBytes - got, 5000)) <= 0)
            return false;
    return true;
}

std::vector<std::string> lines(const std::string& block) {
    std::vector<std::string> out;
    std::istringstream in(block.substr(0, block.find('\0')));
    for (std::string line; std::getline(in, line);)
        out.push_back(line);
    return out;
}

// Field k (0..41) of slot n, as the Console reads it.
const std::string& field(const std::vector<std::string>& block, int slot, int k) {
    return block.at(2 + slot * kLinesPerGpu + 2 + k);
}

#define CP932_SETSUZOKU "\x90\xDA\x91\xB1"

// Nine GPUs: the first eight go on the wire with their names and labels, and
// the Agent says what it found, where it listens and whom it reports to;
// Ctrl+C ends it with 0.
TEST(LinuxAgent, ReportsTheFirstEightOfNineGpus) {
    std::string scenario;
    for (int i = 0; i < 9; ++i)
        scenario += "gpu " + std::to_string(i) + " name Example GPU " + std::to_string(i + 1) + "\n";
    AgentProcess agent;
    ASSERT_TRUE(agent.start(scenario));
    TcpSocket report = askForReports(agent);
    ASSERT_NE(kNoSocket, report) << agent.statusLines();
    std::string block;
    ASSERT_TRUE(readBlock(report, &block));
    tcpClose(report);
    std::vector<std::string> l = lines(block);
    ASSERT_EQ(2u + kGpuSlotCount * kLinesPerGpu, l.size());
    EXPECT_EQ("127.0.0.1", l[0]);
    EXPECT_EQ("8", l[1]);
    std::string said = "9 GPUs found, reporting the first 8\n";
    for (int slot = 0; slot < kGpuSlotCount; ++slot) {
        const std::string name = "Example GPU " + std::to_string(slot + 1);
        EXPECT_EQ(name, l[2 + slot * kLinesPerGpu]);
        EXPECT_EQ(name + "(" + std::to_string(slot + 1) + ") (UNKNOWN " CP932_SETSUZOKU ")",
                  l[3 + slot * kLinesPerGpu]);
        said += "GPU " + std::to_string(slot + 1) + ": " + name + "\n";
    }
    EXPECT_EQ(0, agent.stop(SIGINT));
    said += "listening on " + std::to_string(agent.listenPort) + "\nreporting to 127.0.0.1\n";
    EXPECT_EQ(said, agent.statusLines().substr(0, said.size()));
    EXPECT_NE(std::string::npos, agent.statusLines().find("stopping\n"));
}

// One scrape of the metrics endpoint from the address: the whole answer, ""
// when none came.
std::string scrape(uint16_t port, const char* from = "127.0.0.1") {
    uint32_t loopback = 0, local = 0;
    parseInetAddr("127.0.0.1", &loopback);
    parseInetAddr(from, &local);
    TcpSocket s = tcpConnectFrom(local, loopback, port, 1000);
    const char request[] = "GET /metrics HTTP/1.1\r\nHost: gpu-server\r\n\r\n";
    std::string answer;
    if (s != kNoSocket && tcpSendOnce(s, request, sizeof request - 1) == int(sizeof request - 1)) {
        char buffer[4096];
        for (int n; (n = tcpRecvOnce(s, buffer, sizeof buffer, 3000)) > 0;)
            answer.append(buffer, n);
    }
    tcpClose(s);
    return answer;
}

// The lines of a scrape that name the GPU in the slot.
std::vector<std::string> metricLinesOf(const std::string& scrape, int slot) {
    std::vector<std::string> out;
    const std::string label = "{gpu=\"" + std::to_string(slot) + "\"";
    std::istringstream in(scrape);
    for (std::string line; std::getline(in, line);)
        if (line.find(label) != std::string::npos)
            out.push_back(line);
    return out;
}

// GPU 2's driver calls hang from 3 s to 13 s: its slot and label stay, its
// readings stand still while the other two GPUs' go on changing every second,
// and they move again after the hang. In the metrics, from 6 s after the
// hang began, GPU 2 is "up 0" with no readings while the others are up with
// moving clocks.
TEST(LinuxAgent, AHungGpuNeverCostsTheOthersTheirReport) {
    std::string scenario = "gpu 1 hang 3 10\n";
    for (int i = 0; i < 3; ++i)
        scenario += "gpu " + std::to_string(i) + " name Example GPU " + std::string(1, 'A' + i) + "\ngpu " +
                    std::to_string(i) + " graphicsClock ramp 1000000 1000\n";
    AgentProcess agent;
    auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(agent.start(scenario, GAUGELINE_SIM_LINUX_DIR,
                            {"--metrics-listen", "127.0.0.1:" + std::to_string(agent.metricsPort)}));
    TcpSocket report = askForReports(agent);
    ASSERT_NE(kNoSocket, report) << agent.statusLines();
    std::string firstScrape, block;
    std::vector<std::string> downScrapes;
    std::set<std::string> quiet[3], after;
    for (double at = 0; at <= 17 && readBlock(report, &block);) {
        at = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::vector<std::string> l = lines(block);
        EXPECT_EQ("Example GPU B(2) (UNKNOWN " CP932_SETSUZOKU ")", l.at(3 + kLinesPerGpu));
        for (int slot = 0; slot < 3 && at >= 5 && at <= 12.5; ++slot)
            quiet[slot].insert(field(l, slot, 2));
        if (at >= 15)
            after.insert(field(l, 1, 2));
        if (firstScrape.empty())
            firstScrape = scrape(agent.metricsPort);
        if (at >= 9 && at <= 12.5)
            downScrapes.push_back(scrape(agent.metricsPort));
    }
    tcpClose(report);
    EXPECT_EQ(0, agent.stop());
    ASSERT_EQ(1u, quiet[1].size());
    EXPECT_GE(quiet[0].size(), 6u);
    EXPECT_GE(quiet[2].size(), 6u);
    EXPECT_FALSE(after.empty());
    EXPECT_EQ(0u, after.count(*quiet[1].begin()));
    EXPECT_NE(std::string::npos, firstScrape.find("\ngaugeline_gpu_up{gpu=\"1\"} 1\n")) << firstScrape;
    EXPECT_GE(downScrapes.size(), 2u);
    std::set<std::string> liveClocks[3];
    for (const std::string& text : downScrapes) {
        EXPECT_EQ((std::vector<std::string>{"gaugeline_gpu_info{gpu=\"1\",name=\"Example GPU B\"} 1",
                                            "gaugeline_gpu_up{gpu=\"1\"} 0"}),
                  metricLinesOf(text, 1));
        for (int slot : {0, 2}) {
            std::vector<std::string> l = metricLinesOf(text, slot);
            const std::string up = "gaugeline_gpu_up{gpu=\"" + std::to_string(slot) + "\"} 1";
            EXPECT_NE(l.end(), std::find(l.begin(), l.end(), up)) << text;
            for (const std::string& line : l)
                if (line.find("gaugeline_gpu_clock_hertz{") == 0)
                    liveClocks[slot].insert(line);
        }
    }
    EXPECT_GE(liveClocks[0].size(), 2u);
    EXPECT_GE(liveClocks[2].size(), 2u);
}

// A GPU already lost when the Agent starts: the Agent says so once, keeps the
// GPU's slot (no name: its handle cannot be had) and serves the others, live,
// on the wire and in the metrics, where the lost one is "up 0". A GPU lost
// later is named once.
TEST(LinuxAgent, StartsAndServesTheOthersWhenOneIsLostAtStart) {
    std::string scenario = "gpu 1 lost 0\ngpu 3 lost 1\n";
    for (int i = 0; i < 4; ++i)
        scenario += "gpu " + std::to_string(i) + " name Example GPU " + std::string(1, 'A' + i) + "\ngpu " +
                    std::to_string(i) + " graphicsClock ramp 1000000 1000\n";
    AgentProcess agent;
    ASSERT_TRUE(agent.start(scenario, GAUGELINE_SIM_LINUX_DIR,
                            {"--metrics-listen", "127.0.0.1:" + std::to_string(agent.metricsPort)}));
    TcpSocket report = askForReports(agent);
    ASSERT_NE(kNoSocket, report) << agent.statusLines();
    std::string block;
    std::vector<std::string> first, last;
    for (int i = 0; i < 5 && readBlock(report, &block); ++i)
        (first.empty() ? first : last) = lines(block);
    tcpClose(report);
    ASSERT_FALSE(last.empty()) << agent.statusLines();
    EXPECT_EQ("4", last[1]);
    const char* names[3] = {"Example GPU A", "- empty -", "Example GPU C"};
    for (int slot = 0; slot < 3; ++slot)
        EXPECT_EQ(names[slot], last.at(2 + slot * kLinesPerGpu)) << slot;
    EXPECT_NE(field(first, 0, 2), field(last, 0, 2));
    EXPECT_NE(field(first, 2, 2), field(last, 2, 2));
    std::string text = scrape(agent.metricsPort);
    for (const char* line : {"\ngaugeline_gpu_up{gpu=\"0\"} 1\n", "\ngaugeline_gpu_up{gpu=\"1\"} 0\n",
                             "\ngaugeline_gpu_up{gpu=\"2\"} 1\n"})
        EXPECT_NE(std::string::npos, text.find(line)) << line << text;
    EXPECT_EQ(0, agent.stop());
    const std::string status = agent.statusLines();
    for (const char* said : {"GPU 2 lost: it has no readings, the other GPUs go on\n",
                             "GPU 4 (Example GPU D) lost: its readings stop, the other GPUs go on\n"}) {
        size_t at = status.find(said);
        EXPECT_NE(std::string::npos, at) << status;
        EXPECT_EQ(std::string::npos, status.find(std::string(said, 5), at + 1)) << status;
    }
    EXPECT_NE(std::string::npos, status.find("GPU 3: Example GPU C\n")) << status;
}

// Whatever keeps the Agent from starting ends it with status 1 and one line
// that says why.
TEST(LinuxAgent, CannotStart) {
    struct Case {
        const char* what;
        const char* scenario;
        bool library;
        bool portTaken;
        const char* line;
    } cases[] = {
        {"no NVML library", "", false, false, "cannot load libnvidia-ml.so.1: "},
        {"no GPU", "nogpus\n", true, false, "no NVIDIA GPU found\n"},
        {"init fails", "fail nvmlInit_v2 status 9\n", true, false,
         "NVML initialisation failed (Driver Not Loaded)\n"},
        {"port taken", "", true, true, "cannot listen on port "},
        {"metrics port taken", "", true, true, "cannot listen for metrics on 127.0.0.1:"},
    };
    for (const Case& c : cases) {
        if (!c.library && dlopenWouldFindSystemNvml())
            continue;
        AgentProcess agent;
        bool metrics = std::strstr(c.what, "metrics") != nullptr;
        uint16_t taken = metrics ? agent.metricsPort : agent.listenPort;
        TcpSocket blocker = c.portTaken ? tcpListen("127.0.0.1", taken, 1) : kNoSocket;
        std::vector<std::string> extra;
        if (metrics)
            extra = {"--metrics-listen", "127.0.0.1:" + std::to_string(agent.metricsPort)};
        ASSERT_TRUE(agent.start(c.scenario, c.library ? GAUGELINE_SIM_LINUX_DIR : "", extra));
        EXPECT_EQ(1, agent.waitExit(15000)) << c.what;
        EXPECT_NE(std::string::npos, agent.statusLines().find(c.line))
            << c.what << ": " << agent.statusLines();
        tcpClose(blocker);
    }
}

// GPU 0 is a GeForce board: no default applications clocks at all. GPU 1 is a
// data-centre board: those clocks for graphics and memory only.
TEST(LinuxAgent, RatedClocksOnlyWhereTheDriverGivesThemMaxClocksAlways) {
    AgentProcess agent;
    ASSERT_TRUE(agent.start("time 10\nfail nvmlDeviceGetDefaultApplicationsClock gpu 0 status 3\n"
                            "gpu 0 name Example GPU 4080\ngpu 0 graphicsClockBoost 3105000\n"
                            "gpu 0 memoryClockBoost 11201000\ngpu 1 name Example GPU A100\n",
                            GAUGELINE_SIM_LINUX_DIR,
                            {"--metrics-listen", "127.0.0.1:" + std::to_string(agent.metricsPort)}));
    TcpSocket report = askForReports(agent);
    ASSERT_NE(kNoSocket, report) << agent.statusLines();
    std::string block;
    for (int i = 0; i < 3; ++i) // the third comes after every GPU's first pass
        ASSERT_TRUE(readBlock(report, &block)) << i;
    tcpClose(report);
    const std::string answer = scrape(agent.metricsPort);
    const struct {
        const char* text;
        bool present;
    } cases[] = {
        {"gaugeline_gpu_clock_base_hertz{gpu=\"0\"", false},
        {"\ngaugeline_gpu_clock_max_hertz{gpu=\"0\",clock=\"graphics\"} 3105000000\n", true},
        {"\ngaugeline_gpu_clock_max_hertz{gpu=\"0\",clock=\"memory\"} 11201000000\n", true},
        {"\ngaugeline_gpu_clock_max_hertz{gpu=\"0\",clock=\"processor\"} 3600000000\n", true},
        {"\ngaugeline_gpu_clock_base_hertz{gpu=\"1\",clock=\"graphics\"} 1400000000\n", true},
        {"\ngaugeline_gpu_clock_base_hertz{gpu=\"1\",clock=\"memory\"} 7000000000\n", true},
        {"gaugeline_gpu_clock_base_hertz{gpu=\"1\",clock=\"processor\"}", false},
        {"gaugeline_gpu_clock_base_hertz{gpu=\"1\",clock=\"video\"}", false},
        {"\ngaugeline_gpu_clock_max_hertz{gpu=\"1\",clock=\"video\"} 1500000000\n", true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.present, answer.find(c.text) != std::string::npos) << c.text << "\nin:" << answer;
}

// --allow-from names who may ask and scrape: from elsewhere the request is
// closed unread and no report connection comes; the metrics port says nothing.
// Clients of the metrics port that never send a request (what a long or bad
// one costs is the metrics server's own test): meanwhile the Console gets a
// block every second with fresh readings, and a good scrape afterwards is served.
TEST(LinuxAgent, OthersAreKeptOutAndHostileMetricsClientsCostTheConsoleNothing) {
    AgentProcess agent;
    ASSERT_TRUE(agent.start(
        "gpu 0 name Example GPU\ngpu 0 temperature 54\ngpu 0 powerDraw 65432\n"
        "gpu 0 graphicsClock ramp 1733000 1000\n",
        GAUGELINE_SIM_LINUX_DIR,
        {"--allow-from", "127.0.0.1", "--metrics-listen", "127.0.0.1:" + std::to_string(agent.metricsPort)}));
    EXPECT_EQ(kNoSocket, askForReports(agent, "127.0.0.2", 1500));
    EXPECT_EQ("", scrape(agent.metricsPort, "127.0.0.2"));
    TcpSocket report = askForReports(agent);
    ASSERT_NE(kNoSocket, report) << agent.statusLines();
    EXPECT_NE(std::string::npos, agent.statusLines().find("serving metrics on http://127.0.0.1:" +
                                                          std::to_string(agent.metricsPort) + "/metrics\n"));
    std::string answer = scrape(agent.metricsPort);
    EXPECT_EQ(0u, answer.find("HTTP/1.1 200 ")) << answer;
    EXPECT_NE(std::string::npos, answer.find("\ngaugeline_gpu_temperature_celsius{gpu=\"0\"} 54\n"))
        << answer;

    std::atomic<bool> done{false};
    std::thread hostile([&] {
        uint32_t loopback = 0;
        parseInetAddr("127.0.0.1", &loopback);
        std::vector<TcpSocket> silent;
        for (int i = 0; i < 500 && !done; ++i) {
            TcpSocket s = tcpConnect(loopback, agent.metricsPort, 200);
            if (s != kNoSocket)
                silent.push_back(s);
        }
        while (!done)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        for (TcpSocket s : silent)
            tcpClose(s);
    });
    // Eight seconds of blocks while the hostile clients are at it.
    std::set<std::string> clocks;
    int blocks = 0;
    std::string block;
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(8);
    while (std::chrono::steady_clock::now() < end && readBlock(report, &block)) {
        ++blocks;
        clocks.insert(field(lines(block), 0, 2));
    }
    done = true;
    hostile.join();
    EXPECT_GE(blocks, 7);
    EXPECT_GE(clocks.size(), 7u);
    std::string after;
    eventually([&] { return !(after = scrape(agent.metricsPort)).empty(); }, 10000, 200);
    EXPECT_NE(std::string::npos, after.find("\ngaugeline_gpu_power_watts{gpu=\"0\"} 65.432\n")) << after;
    tcpClose(report);
    EXPECT_EQ(0, agent.stop());
}

} // namespace
