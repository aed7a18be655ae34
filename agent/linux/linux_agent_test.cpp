// The Linux Agent as its users run it: the real program against the simulated
// NVML library (LD_LIBRARY_PATH), asked for reports by this test acting as the
// Console on loopback, with ports of its own.
#include "tests/support/agent_peer.h"

#include <gtest/gtest.h>

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
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

// The simulated driver's UUID of a GPU, less its two-digit index.
#define SIM_UUID "GPU-00000000-0000-4000-8000-0000000000"

// A machine with the NVIDIA driver finds the real library without our path.
bool dlopenWouldFindSystemNvml() {
    void* library = dlopen("libnvidia-ml.so.1", RTLD_LAZY | RTLD_LOCAL);
    if (library)
        dlclose(library);
    return library != nullptr;
}

const uint16_t kBasePort = testPorts(0);

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

// Nine GPUs: the first eight are reported. GPU 2 is lost at start (its slot
// stays, unnamed), GPU 4 is lost later (named once), GPU 5's calls hang: the
// others' readings go on, on the wire and in the metrics, where GPU 2 and 5
// are "up 0". --allow-from keeps others out: their request is closed unread
// and no report connection comes; the metrics port says nothing. Ctrl+C
// during the hang ends the Agent with 0 without shutting NVML down under the
// hung call.
TEST(LinuxAgent, ReportsEightOfNineGpusThroughLostAndHungOnes) {
    std::string scenario = "gpu 1 lost 0\ngpu 3 lost 1\ngpu 4 hang 2 60\n";
    for (int i = 0; i < 9; ++i)
        scenario += "gpu " + std::to_string(i) + " name Example GPU " + std::to_string(i + 1) + "\ngpu " +
                    std::to_string(i) + " graphicsClock ramp 1000000 1000\n";
    AgentProcess agent;
    auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(agent.start(
        scenario, GAUGELINE_SIM_LINUX_DIR,
        {"--allow-from", "127.0.0.1", "--metrics-listen", "127.0.0.1:" + std::to_string(agent.metricsPort)}));
    TcpSocket report = askForReports(agent.listenPort, agent.reportPort);
    ASSERT_NE(kNoSocket, report) << agent.statusLines();
    std::string block;
    std::vector<std::string> first, last;
    std::set<std::string> hung, live;
    for (double at = 0; at < 8.5 && readReportBlock(report, &block);) {
        at = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        (first.empty() ? first : last) = lines(block);
        if (at >= 3.5 && !last.empty()) {
            hung.insert(field(last, 4, 2));
            live.insert(field(last, 0, 2));
        }
    }
    tcpClose(report);
    EXPECT_EQ(kNoSocket, askForReports(agent.listenPort, agent.reportPort, "127.0.0.2", 1500));
    EXPECT_EQ("", scrape(agent.metricsPort, "127.0.0.2"));
    const std::string text = scrape(agent.metricsPort);
    ASSERT_EQ(2u + kGpuSlotCount * kLinesPerGpu, last.size()) << agent.statusLines();
    EXPECT_EQ((std::vector<std::string>{"127.0.0.1", "8", "Example GPU 1",
                                        "Example GPU 1(1) (UNKNOWN " CP932_SETSUZOKU ")"}),
              std::vector<std::string>(last.begin(), last.begin() + 4));
    const char* names[kGpuSlotCount] = {"Example GPU 1", "- empty -",     "Example GPU 3", "Example GPU 4",
                                        "Example GPU 5", "Example GPU 6", "Example GPU 7", "Example GPU 8"};
    for (int slot = 0; slot < kGpuSlotCount; ++slot)
        EXPECT_EQ(names[slot], last.at(2 + slot * kLinesPerGpu)) << slot;
    EXPECT_NE(field(first, 2, 2), field(last, 2, 2));
    EXPECT_EQ(1u, hung.size());
    EXPECT_GE(live.size(), 4u);
    // A GPU lost before the start has no handle, so no UUID either.
    for (const char* line : {"\ngaugeline_gpu_up{gpu=\"0\",uuid=\"" SIM_UUID "00\"} 1\n",
                             "\ngaugeline_gpu_up{gpu=\"1\",uuid=\"\"} 0\n",
                             "\ngaugeline_gpu_up{gpu=\"2\",uuid=\"" SIM_UUID "02\"} 1\n",
                             "\ngaugeline_gpu_up{gpu=\"4\",uuid=\"" SIM_UUID "04\"} 0\n"})
        EXPECT_NE(std::string::npos, text.find(line)) << line << text;
    EXPECT_EQ(0, agent.stop(SIGINT));
    const std::string status = agent.statusLines();
    EXPECT_EQ(0u, status.find("9 GPUs found, reporting the first 8\nGPU 1: Example GPU 1\n"
                              "GPU 2 lost: it has no readings, the other GPUs go on\nGPU 3: Example GPU 3\n"
                              "GPU 4: Example GPU 4\nGPU 5: Example GPU 5\nGPU 6: Example GPU 6\n"
                              "GPU 7: Example GPU 7\nGPU 8: Example GPU 8\n"))
        << status;
    const std::string once = "GPU 4 (Example GPU 4) lost: its readings stop, the other GPUs go on\n";
    for (const std::string& said :
         {"\nlistening on " + std::to_string(agent.listenPort) + "\n",
          std::string("\nreporting to 127.0.0.1\n"), once,
          "\nserving metrics on http://127.0.0.1:" + std::to_string(agent.metricsPort) + "/metrics\n",
          std::string("\nstopping\na GPU driver call does not return: exiting without nvmlShutdown\n")})
        EXPECT_NE(std::string::npos, status.find(said)) << said << status;
    EXPECT_EQ(status.find(once), status.rfind(once)) << status;
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
    TcpSocket report = askForReports(agent.listenPort, agent.reportPort);
    ASSERT_NE(kNoSocket, report) << agent.statusLines();
    std::string block;
    for (int i = 0; i < 3; ++i) // the third comes after every GPU's first pass
        ASSERT_TRUE(readReportBlock(report, &block)) << i;
    tcpClose(report);
    const std::string answer = scrape(agent.metricsPort);
    const struct {
        const char* text;
        bool present;
    } cases[] = {
        {"gaugeline_gpu_clock_base_hertz{gpu=\"0\",uuid=\"" SIM_UUID "00\"", false},
        {"\ngaugeline_gpu_clock_max_hertz{gpu=\"0\",uuid=\"" SIM_UUID "00\",clock=\"graphics\"} 3105000000\n",
         true},
        {"\ngaugeline_gpu_clock_max_hertz{gpu=\"0\",uuid=\"" SIM_UUID "00\",clock=\"memory\"} 11201000000\n",
         true},
        {"\ngaugeline_gpu_clock_max_hertz{gpu=\"0\",uuid=\"" SIM_UUID
         "00\",clock=\"processor\"} 3600000000\n",
         true},
        {"\ngaugeline_gpu_clock_base_hertz{gpu=\"1\",uuid=\"" SIM_UUID
         "01\",clock=\"graphics\"} 1400000000\n",
         true},
        {"\ngaugeline_gpu_clock_base_hertz{gpu=\"1\",uuid=\"" SIM_UUID "01\",clock=\"memory\"} 7000000000\n",
         true},
        {"gaugeline_gpu_clock_base_hertz{gpu=\"1\",uuid=\"" SIM_UUID "01\",clock=\"processor\"}", false},
        {"gaugeline_gpu_clock_base_hertz{gpu=\"1\",uuid=\"" SIM_UUID "01\",clock=\"video\"}", false},
        {"\ngaugeline_gpu_clock_max_hertz{gpu=\"1\",uuid=\"" SIM_UUID "01\",clock=\"video\"} 1500000000\n",
         true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.present, answer.find(c.text) != std::string::npos) << c.text << "\nin:" << answer;
}

} // namespace
