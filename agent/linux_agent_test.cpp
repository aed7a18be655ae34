// The Linux Agent as its users run it: the real program against the simulated
// NVML library (LD_LIBRARY_PATH), asked for reports by this test acting as the
// Console on loopback, with ports of its own.
#include "net/tcp.h"
#include "protocol/wire.h"

#include <gtest/gtest.h>

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
        for (int waited = 0; pid > 0 && waited <= withinMs; waited += 20) {
            int status = 0;
            if (waitpid(pid, &status, WNOHANG) == pid) {
                pid = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return -1;
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

// Acts as the Console: listens for the report connection, sends the request
// naming 127.0.0.1 and returns the accepted report connection.
TcpSocket askForReports(const AgentProcess& agent) {
    uint32_t loopback = 0;
    parseInetAddr("127.0.0.1", &loopback);
    TcpSocket listener = tcpListen("127.0.0.1", agent.reportPort, 1);
    TcpSocket request = kNoSocket;
    for (int i = 0; i < 100 && request == kNoSocket; ++i) {
        request = tcpConnect(loopback, agent.listenPort, 500);
        if (request == kNoSocket)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    uint8_t bytes[kRequestBytes] = "127.0.0.1";
    if (request == kNoSocket || tcpSendOnce(request, bytes, kRequestBytes) != kRequestBytes)
        return kNoSocket;
    tcpClose(request);
    char peer[16];
    TcpSocket report = tcpAccept(listener, 10000, peer);
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

// Three boards with fixed readings; the second lacks the processor and video
// clocks and fans, the third lacks the fan's rpm and fails its temperature,
// power and utilisation calls. Statements per GPU are separated by ";".
const char* const kThreeGpus[] = {
    "name Example GPU 4080;bus 1;graphicsClock 2610000;memoryClock 10501000;processorClock 2745000;"
    "videoClock 2160000;graphicsClockBase 2205000;memoryClockBase 10501000;"
    "processorClockBase 2205000;videoClockBase 1890000;graphicsClockBoost 2520000;"
    "memoryClockBoost 10501000;gpuLoad 97;memoryControllerLoad 71;videoEngineLoad 18;decoderLoad 25;"
    "temperature 71;memoryTotal 16777216;memoryUsed 11800000;fanLevel 78;fanRpm 2450;"
    "powerDraw 298000;powerLimit 320000;pstate 0;coreVoltage 900000;baseVoltage 910000",
    "name Example GPU 3060;bus 2;domains 0 4;coolers 0;graphicsClock 1882500;memoryClock 7501000;"
    "processorClockBase 2640000;graphicsClockBase 1320000;memoryClockBase 7501000;"
    "graphicsClockBoost 1777000;memoryClockBoost 7501000;gpuLoad 64;memoryControllerLoad 40;"
    "encoderLoad 35;decoderLoad 10;temperature 63;memoryTotal 12582912;memoryUsed 5200000;"
    "powerDraw 168000;powerLimit 170000;pstate 2",
    "name Example GPU A2000;bus 3;rpmflag 0;graphicsClock 1200000;memoryClock 6001000;"
    "processorClock 1200000;videoClock 1100000;graphicsClockBase 562000;memoryClockBase 6001000;"
    "processorClockBase 562000;videoClockBase 800000;graphicsClockBoost 1200000;"
    "memoryClockBoost 6001000;gpuLoad 50;videoEngineLoad 7;temperature 55;memoryTotal 6291456;"
    "memoryUsed 1048576;fanLevel 40;fanRpm 1500;powerDraw 50000;powerLimit 70000;pstate 8",
};
const char* const kThreeGpuFaults = "time 10\n"
                                    "fail nvmlDeviceGetTemperature gpu 2\n"
                                    "fail nvmlDeviceGetPowerUsage gpu 2\n"
                                    "fail nvmlDeviceGetUtilizationRates gpu 2\n";

// The block as the Console must receive it, written out line by line: the
// label, the count, per GPU its name, label and the 42 fields in wire order.
std::string expectedThreeGpuBlock() {
    std::string text = "127.0.0.1\n3\n"
                       "Example GPU 4080\nExample GPU 4080(1) (UNKNOWN " CP932_SETSUZOKU ")\n"
                       "1\n1\n2610000\n10501000\n1\n2745000\n1\n2160000\n" // current clocks
                       "2205000\n10501000\n0\n0\n2610000\n10501000\n"      // base, scale
                       "1\n97\n0\n16777216\n1\n11800000\n1\n71\n"          // load, model, memory, temp
                       "1\n320000\n298000\n0\n1\n0\n"                      // power, model flag, P-state
                       "1\n71\n1\n25\n0\n0\n1\n78\n1\n2450\n0\n0\n0\n0\n"  // loads, fan, voltages
                       "Example GPU 3060\nExample GPU 3060(2) (UNKNOWN " CP932_SETSUZOKU ")\n"
                       "1\n1\n1882000\n7501000\n0\n0\n0\n0\n"
                       "1320000\n7501000\n0\n0\n1882000\n7501000\n"
                       "1\n64\n0\n12582912\n1\n5200000\n1\n63\n"
                       "1\n170000\n168000\n0\n1\n2\n"
                       "1\n40\n1\n35\n0\n0\n0\n0\n0\n0\n0\n0\n0\n0\n"
                       "Example GPU A2000\nExample GPU A2000(3) (UNKNOWN " CP932_SETSUZOKU ")\n"
                       "1\n1\n1200000\n6001000\n1\n1200000\n1\n1100000\n"
                       "562000\n6001000\n0\n0\n1200000\n6001000\n"
                       "0\n0\n0\n6291456\n1\n1048576\n0\n0\n"
                       "0\n0\n0\n0\n1\n8\n"
                       "0\n0\n1\n7\n0\n0\n1\n40\n0\n0\n0\n0\n0\n0\n";
    for (int slot = 3; slot < kGpuSlotCount; ++slot) {
        text += "- empty -\n\n";
        for (int k = 0; k < kSampleFieldCount; ++k)
            text += "0\n";
    }
    text.resize(kReportBlockBytes, '\0');
    return text;
}

std::string scenarioOf(const char* const* gpus, int count, const char* rest) {
    std::string text = rest;
    for (int n = 0; n < count; ++n) {
        std::istringstream statements(gpus[n]);
        for (std::string statement; std::getline(statements, statement, ';');)
            text += "gpu " + std::to_string(n) + " " + statement + "\n";
    }
    return text;
}

TEST(LinuxAgent, ReportsThreeGpusByteForByte) {
    AgentProcess agent;
    ASSERT_TRUE(agent.start(scenarioOf(kThreeGpus, 3, kThreeGpuFaults)));
    TcpSocket report = askForReports(agent);
    ASSERT_NE(kNoSocket, report) << agent.statusLines();
    std::string block;
    for (int i = 0; i < 3; ++i) // the third comes after every GPU's first pass
        ASSERT_TRUE(readBlock(report, &block)) << i;
    EXPECT_EQ(expectedThreeGpuBlock(), block);
    tcpClose(report);
    EXPECT_EQ(0, agent.stop(SIGINT));
    std::string expected = "GPU 1: Example GPU 4080\nGPU 2: Example GPU 3060\nGPU 3: Example GPU A2000\n"
                           "listening on " +
                           std::to_string(agent.listenPort) + "\nreporting to 127.0.0.1\n";
    EXPECT_EQ(expected, agent.statusLines().substr(0, expected.size()));
    EXPECT_NE(std::string::npos, agent.statusLines().find("stopping\n"));
}

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
    EXPECT_EQ("8", l[1]);
    for (int slot = 0; slot < kGpuSlotCount; ++slot)
        EXPECT_EQ("Example GPU " + std::to_string(slot + 1), l[2 + slot * kLinesPerGpu]);
    EXPECT_NE(std::string::npos, agent.statusLines().find("9 GPUs found, reporting the first 8\n"));
    EXPECT_EQ(0, agent.stop());
}

// One GPU lost after 5 s, or its driver calls hanging for 10 s: its slot and label stay,
// its readings stop changing, and the other two GPUs' readings go on changing
// every second. After the hang the GPU's readings move again.
TEST(LinuxAgent, OneBadGpuNeverCostsTheOthersTheirReport) {
    struct Case {
        const char* fault;
        double quietFrom, quietUntil; // seconds after start when GPU 2 must stand still
        bool movesAfter;
        const char* line;
    } cases[] = {
        {"gpu 1 lost 5\n", 7, 16, false,
         "GPU 2 (Example GPU B) lost: its readings stop, the other GPUs go on\n"},
        {"gpu 1 hang 3 10\n", 5, 12.5, true, nullptr},
    };
    for (const Case& c : cases) {
        std::string scenario = c.fault;
        for (int i = 0; i < 3; ++i)
            scenario += "gpu " + std::to_string(i) + " name Example GPU " + std::string(1, 'A' + i) +
                        "\ngpu " + std::to_string(i) + " graphicsClock ramp 1000000 1000\n";
        AgentProcess agent;
        auto start = std::chrono::steady_clock::now();
        ASSERT_TRUE(agent.start(scenario));
        TcpSocket report = askForReports(agent);
        ASSERT_NE(kNoSocket, report) << agent.statusLines();
        struct Seen {
            double at;
            std::string clock[3];
            std::string label;
        };
        std::vector<Seen> seen;
        std::string block;
        while (readBlock(report, &block)) {
            std::vector<std::string> l = lines(block);
            Seen s{std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
                   {},
                   l.at(3 + kLinesPerGpu)};
            for (int slot = 0; slot < 3; ++slot)
                s.clock[slot] = field(l, slot, 2);
            seen.push_back(s);
            if (s.at > 17)
                break;
        }
        tcpClose(report);
        EXPECT_EQ(0, agent.stop()) << c.fault;
        std::set<std::string> quiet[3], after;
        for (const Seen& s : seen) {
            EXPECT_EQ("Example GPU B(2) (UNKNOWN " CP932_SETSUZOKU ")", s.label);
            if (s.at >= c.quietFrom && s.at <= c.quietUntil)
                for (int slot = 0; slot < 3; ++slot)
                    quiet[slot].insert(s.clock[slot]);
            if (s.at >= 15)
                after.insert(s.clock[1]);
        }
        EXPECT_EQ(1u, quiet[1].size()) << c.fault;
        EXPECT_GE(quiet[0].size(), static_cast<size_t>(c.quietUntil - c.quietFrom) - 1) << c.fault;
        EXPECT_GE(quiet[2].size(), static_cast<size_t>(c.quietUntil - c.quietFrom) - 1) << c.fault;
        EXPECT_EQ(c.movesAfter, !after.empty() && !quiet[1].empty() && after != quiet[1] &&
                                    after.count(*quiet[1].begin()) == 0)
            << c.fault;
        std::string status = agent.statusLines();
        if (c.line) {
            size_t at = status.find(c.line);
            EXPECT_NE(std::string::npos, at) << status;
            EXPECT_EQ(std::string::npos, status.find(c.line, at + 1)) << "said twice: " << status;
        }
    }
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

// One scrape of the metrics endpoint: the whole answer, "" when none came.
std::string scrape(uint16_t port) {
    uint32_t loopback = 0;
    parseInetAddr("127.0.0.1", &loopback);
    TcpSocket s = tcpConnect(loopback, port, 1000);
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

// Clients of the metrics port that never finish a request, one that sends a
// 1 MB request line and one that sends garbage: meanwhile the Console gets a
// block every second with fresh readings, and a good scrape afterwards is served.
TEST(LinuxAgent, HostileMetricsClientsCostTheConsoleNothing) {
    AgentProcess agent;
    ASSERT_TRUE(agent.start("gpu 0 name Example GPU\ngpu 0 temperature 54\ngpu 0 powerDraw 65432\n"
                            "gpu 0 graphicsClock ramp 1733000 1000\n",
                            GAUGELINE_SIM_LINUX_DIR,
                            {"--metrics-listen", "127.0.0.1:" + std::to_string(agent.metricsPort)}));
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
        std::string line = "GET /" + std::string(1 << 20, 'a') + " HTTP/1.1\r\n\r\n";
        TcpSocket big = tcpConnect(loopback, agent.metricsPort, 1000);
        tcpSendAll(big, line.data(), static_cast<int>(line.size()), 3000);
        std::string garbage(65536, '\0');
        for (size_t i = 0; i < garbage.size(); ++i)
            garbage[i] = static_cast<char>(i * 7919 % 251);
        TcpSocket noise = tcpConnect(loopback, agent.metricsPort, 1000);
        tcpSendAll(noise, garbage.data(), static_cast<int>(garbage.size()), 3000);
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
        tcpClose(big);
        tcpClose(noise);
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
    for (int i = 0; i < 30 && after.empty(); ++i) {
        after = scrape(agent.metricsPort);
        if (after.empty())
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    EXPECT_NE(std::string::npos, after.find("\ngaugeline_gpu_power_watts{gpu=\"0\"} 65.432\n")) << after;
    tcpClose(report);
    EXPECT_EQ(0, agent.stop());
}

// --allow-from names who may ask and scrape: from elsewhere, the request is
// closed unread and no report connection comes; the metrics port says nothing.
TEST(LinuxAgent, AllowFromKeepsOtherHostsOut) {
    AgentProcess agent;
    ASSERT_TRUE(agent.start(
        "gpu 0 name Example GPU\n", GAUGELINE_SIM_LINUX_DIR,
        {"--allow-from", "127.0.0.2", "--metrics-listen", "127.0.0.1:" + std::to_string(agent.metricsPort)}));
    uint32_t loopback = 0;
    parseInetAddr("127.0.0.1", &loopback);
    TcpSocket listener = tcpListen("127.0.0.1", agent.reportPort, 1);
    TcpSocket request = kNoSocket;
    for (int i = 0; i < 100 && request == kNoSocket; ++i)
        if ((request = tcpConnect(loopback, agent.listenPort, 500)) == kNoSocket)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
    uint8_t bytes[kRequestBytes] = "127.0.0.1";
    tcpSendOnce(request, bytes, kRequestBytes);
    char peer[16];
    TcpSocket report = tcpAccept(listener, 1500, peer);
    EXPECT_EQ(kNoSocket, report);
    EXPECT_EQ("", scrape(agent.metricsPort));
    tcpClose(report);
    tcpClose(request);
    tcpClose(listener);
    EXPECT_EQ(0, agent.stop());
}

} // namespace
