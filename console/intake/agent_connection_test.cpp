#include "console/intake/agent_connection.h"

#include "console/intake/intake.h"
#include "net/tcp.h"
#include "protocol/report_block.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

uint32_t addr(const char* text) {
    uint32_t a = 0;
    EXPECT_TRUE(parseInetAddr(text, &a)) << text;
    return a;
}

// Records the pauses asked for, and what the shared flag read at each.
std::vector<int> gPauses;
std::vector<int32_t> gFlagDuringPause;
GpuPanelState* gWatched = nullptr;
void recordPause(int ms) {
    gPauses.push_back(ms);
    gFlagDuringPause.push_back(gWatched ? relaxed(gWatched->reconnectRequested) : -1);
}

// An Agent stand-in: accepts every connection until finish() and keeps what
// each one carried, in the order they came.
struct FakeAgent {
    uint16_t port;
    TcpSocket listener = kNoSocket;
    std::atomic<bool> stopping{false};
    std::thread thread;
    std::vector<std::vector<uint8_t>> connections;

    explicit FakeAgent(uint16_t p) : port(p) {
        netStartup();
        listener = tcpListen("127.0.0.1", port, 4);
        thread = std::thread([this] {
            std::vector<TcpSocket> open;
            for (;;) {
                char peer[16];
                TcpSocket s = tcpAccept(listener, 50, peer);
                if (s != kNoSocket) {
                    open.push_back(s);
                    connections.emplace_back();
                }
                bool anyOpen = false;
                for (size_t i = 0; i < open.size(); ++i) {
                    uint8_t buffer[64];
                    int n = open[i] == kNoSocket ? 0 : tcpRecvOnce(open[i], buffer, sizeof buffer, 0);
                    if (n > 0)
                        connections[i].insert(connections[i].end(), buffer, buffer + n);
                    if (n == 0 || n == -1) {
                        tcpClose(open[i]);
                        open[i] = kNoSocket;
                    }
                    anyOpen = anyOpen || open[i] != kNoSocket;
                }
                if (s == kNoSocket && !anyOpen && stopping)
                    return;
            }
        });
    }
    ~FakeAgent() {
        if (thread.joinable())
            finish();
        tcpClose(listener);
        netCleanup();
    }
    void finish() {
        stopping = true;
        thread.join();
    }
};

using Connections = std::vector<std::vector<uint8_t>>;

// A request as the Agent sees it: the 20 bytes on the first connection, and a
// second connection that carries nothing.
Connections requestFor(const char* text) {
    uint8_t r[kRequestBytes];
    EXPECT_TRUE(writeRequest(text, r));
    return {std::vector<uint8_t>(r, r + kRequestBytes), {}};
}

std::wstring gTitle;
std::vector<std::string> gTabResets;
std::string gBoxes;

bool noLocal(char*) {
    return false;
}
bool fixedLocal(char out[16]) {
    std::strcpy(out, "192.0.2.5");
    return true;
}

} // namespace

TEST(AgentConnection, ChoosesFirstPrimaryDhcpRow) {
    const struct {
        const char* name;
        std::vector<AddressRow> rows;
        const char* text; // nullptr: none
    } cases[] = {
        {"dhcp after static",
         {{addr("192.168.1.9"), 1}, {addr("10.0.0.7"), 5}, {addr("10.0.0.8"), 5}},
         "10.0.0.7"},
        {"only static rows (as Wine reports)", {{addr("192.0.2.5"), 1}, {addr("127.0.0.1"), 1}}, nullptr},
        {"flags with more bits are not 5", {{addr("10.1.1.1"), 5 | 8}, {addr("10.1.1.2"), 4}}, nullptr},
        {"first row", {{addr("172.16.0.1"), 5}}, "172.16.0.1"},
    };
    for (const auto& c : cases) {
        char out[16] = "unchanged";
        EXPECT_EQ(localAddressFromRows(c.rows.data(), static_cast<int>(c.rows.size()), out),
                  c.text != nullptr)
            << c.name;
        EXPECT_STREQ(out, c.text ? c.text : "unchanged") << c.name;
    }
}

// "接続": listen first, drop the connection served, read the boxes, ask the Agent.
TEST(AgentConnection, ButtonListensDropsReadsAndAsks) {
    const uint16_t consolePort = 46820, agentPort = 46821;
    const struct {
        const char* name;
        const char* boxes; // the four boxes, dot between
        bool (*local)(char*);
        bool agent, heldElsewhere, listeningAlready;
        ConnectOutcome outcome;
        const char* carried; // the address in the request; nullptr: none sent
    } cases[] = {
        {"typed Agent answers", "127.0.0.1", fixedLocal, true, false, false, ConnectOutcome::Requested,
         "192.0.2.5"},
        {"no DHCP address: the connection's own", "127.0.0.1", noLocal, true, false, false,
         ConnectOutcome::Requested, "127.0.0.1"},
        {"already listening keeps its port", "127.0.0.1", fixedLocal, true, false, true,
         ConnectOutcome::Requested, "192.0.2.5"},
        {"nobody listening", "127.0.0.1", fixedLocal, false, false, false, ConnectOutcome::Failed, nullptr},
        {"empty boxes", "...", fixedLocal, true, false, false, ConnectOutcome::Failed, nullptr},
        {"not an address", "999.0.0.1", fixedLocal, true, false, false, ConnectOutcome::Failed, nullptr},
        {"port held by another program", "127.0.0.1", fixedLocal, true, true, false,
         ConnectOutcome::CannotListen, nullptr},
    };
    netStartup();
    IntakeWindowHooks hooks;
    hooks.writeTitle = [](void*, const wchar_t* t) { gTitle += t; };
    hooks.resetTabs = [](void*, const char* label) { gTabResets.push_back(label); };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto state = std::make_unique<GpuPanelState>();
        initGpuPanelState(*state);
        setAgentAddress(*state, "192.0.2.20");
        store(state->gpuCount, 3);
        store(state->slots[0].gpuLoad, 77);
        gWatched = state.get();
        gPauses.clear();
        gFlagDuringPause.clear();
        gTitle.clear();
        gTabResets.clear();
        gBoxes = c.boxes;
        ListenerSlot listener;
        listener.bindAddress = "127.0.0.1";
        listener.port = consolePort;
        TcpSocket other = c.heldElsewhere ? tcpListen("127.0.0.1", consolePort, 1) : kNoSocket;
        if (c.listeningAlready) {
            ASSERT_TRUE(ensureListening(listener));
        }
        ConnectSteps steps;
        steps.listener = &listener;
        steps.readBoxes = [](void*, char boxes[4][kBoxChars + 2]) {
            std::sscanf(gBoxes.c_str(), "%3[0-9].%3[0-9].%3[0-9].%3[0-9]", boxes[0], boxes[1], boxes[2],
                        boxes[3]);
        };
        steps.findLocalAddress = c.local;
        steps.request.port = agentPort;
        steps.request.pause = recordPause;
        std::unique_ptr<FakeAgent> agent(c.agent ? new FakeAgent(agentPort) : nullptr);
        EXPECT_EQ(connectToAgent(*state, hooks, steps), c.outcome);
        if (agent) {
            agent->finish();
            EXPECT_EQ(agent->connections, c.carried ? requestFor(c.carried) : Connections());
        }
        const bool asked = c.outcome == ConnectOutcome::Requested,
                   failed = c.outcome == ConnectOutcome::Failed;
        // The flag is up during the drop pause and down before the request.
        const std::vector<int> pauses = asked ? std::vector<int>{2000, 1000} : std::vector<int>(failed, 2000);
        EXPECT_EQ(gPauses, pauses);
        const std::vector<int32_t> flags =
            asked ? std::vector<int32_t>{1, 0} : std::vector<int32_t>(failed, 1);
        EXPECT_EQ(gFlagDuringPause, flags);
        char address[kAddressTextMax + 1];
        copyAgentAddress(*state, address);
        EXPECT_STREQ(address, asked ? "127.0.0.1" : failed ? "" : "192.0.2.20");
        EXPECT_EQ(relaxed(state->gpuCount), asked ? 3 : failed ? 1 : 3);
        EXPECT_EQ(relaxed(state->slots[0].gpuLoad), failed ? 0 : 77);
        EXPECT_EQ(relaxed(state->reconnectRequested), 0);
        EXPECT_EQ(gTitle, c.outcome == ConnectOutcome::CannotListen ? L"" : kConsoleTitle);
        EXPECT_EQ(gTabResets, failed ? std::vector<std::string>{kEmptyTabLabel} : std::vector<std::string>{});
        // The Console listens afterwards exactly when it could bind.
        tcpClose(other);
        TcpSocket probe = tcpConnect(addr("127.0.0.1"), consolePort, 1000);
        EXPECT_EQ(probe != kNoSocket, c.outcome != ConnectOutcome::CannotListen);
        tcpClose(probe);
        closeListener(listener);
    }
    gWatched = nullptr;
    netCleanup();
}

TEST(AgentConnection, ReceiverNeverTakesThePortByItself) {
    const uint16_t port = 46822;
    auto state = std::make_unique<GpuPanelState>();
    initGpuPanelState(*state);
    IntakeWindowHooks hooks;
    ListenerSlot listener;
    listener.bindAddress = "127.0.0.1";
    listener.port = port;
    netStartup();
    TcpSocket other = tcpListen("127.0.0.1", port, 1);
    ASSERT_NE(other, kNoSocket);
    EXPECT_FALSE(ensureListening(listener)); // start-up, while a local Agent holds the port
    std::atomic<int> keepRunning{1};
    ReceiverConfig config;
    config.listener = &listener;
    config.keepRunning = &keepRunning;
    std::thread receiver([&] { runReceiver(*state, hooks, config); });

    // The Agent gives the port up to report: it must find it free again.
    tcpClose(other);
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    other = tcpListen("127.0.0.1", port, 1);
    EXPECT_NE(other, kNoSocket);
    tcpClose(other);

    // "接続" listens; the receiver serves the typed Agent on that listener.
    ASSERT_TRUE(ensureListening(listener));
    setAgentAddress(*state, "127.0.0.1");
    GpuSample samples[kGpuSlotCount];
    for (auto& sample : samples)
        clearGpuSample(&sample);
    uint8_t block[kReportBlockBytes];
    buildReportBlock(samples, 2, "127.0.0.1", block);
    TcpSocket s = tcpConnect(addr("127.0.0.1"), port, 2000);
    EXPECT_EQ(tcpSendOnce(s, block, kReportBlockBytes), kReportBlockBytes);
    for (int i = 0; i < 250 && relaxed(state->gpuCount) != 2; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(relaxed(state->gpuCount), 2);
    tcpClose(s);
    keepRunning = 0;
    receiver.join();
    closeListener(listener);
    netCleanup();
}
