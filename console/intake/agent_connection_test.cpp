#include "console/intake/agent_connection.h"

#include "console/intake/intake.h"
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
int gTitleWrites = 0;
void writeTitle(void*, const wchar_t* t) {
    gTitle = t;
    ++gTitleWrites;
}
std::string gResetLabel;
void resetTabs(void*, const char* label) {
    gResetLabel = label;
}

const char* gBoxes[4];
void readBoxes(void*, char boxes[4][kBoxChars + 2]) {
    for (int i = 0; i < 4; ++i)
        std::strncpy(boxes[i], gBoxes[i], kBoxChars + 1);
}

bool noLocal(char*) {
    return false;
}
bool fixedLocal(char out[16]) {
    std::strcpy(out, "192.0.2.5");
    return true;
}

AgentRequestConfig quick(uint16_t port) {
    AgentRequestConfig c;
    c.port = port;
    c.connectWaitMs = 2000;
    c.pause = recordPause;
    return c;
}

} // namespace

TEST(AgentConnection, ChoosesFirstPrimaryDhcpRow) {
    struct Case {
        const char* name;
        std::vector<AddressRow> rows;
        int expected;
        const char* text;
    };
    const Case cases[] = {
        {"dhcp after static",
         {{addr("192.168.1.9"), 1}, {addr("10.0.0.7"), 5}, {addr("10.0.0.8"), 5}},
         1,
         "10.0.0.7"},
        {"only static rows (as Wine reports)", {{addr("192.0.2.5"), 1}, {addr("127.0.0.1"), 1}}, -1, nullptr},
        {"flags with more bits are not 5", {{addr("10.1.1.1"), 5 | 8}, {addr("10.1.1.2"), 4}}, -1, nullptr},
        {"first row", {{addr("172.16.0.1"), 5}}, 0, "172.16.0.1"},
        {"empty table", {}, -1, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(chooseLocalAddressRow(c.rows.data(), static_cast<int>(c.rows.size())), c.expected);
        char out[16] = "unchanged";
        EXPECT_EQ(localAddressFromRows(c.rows.data(), static_cast<int>(c.rows.size()), out),
                  c.text != nullptr);
        if (c.text) {
            EXPECT_STREQ(out, c.text);
        }
    }
    EXPECT_EQ(chooseLocalAddressRow(nullptr, 3), -1);
    AddressRow one{addr("10.0.0.1"), 5};
    EXPECT_EQ(chooseLocalAddressRow(&one, -1), -1);
}

TEST(AgentConnection, JoinsTheFourBoxes) {
    struct Case {
        const char* boxes[4];
        const char* expected;
    };
    const Case cases[] = {
        {{"192", "0", "2", "20"}, "192.0.2.20"}, {{"", "", "", ""}, "..."},
        {{"010", "0", "0", "1"}, "010.0.0.1"},   {{"1234", "5678", "9999", "0000"}, "123.567.999.000"},
        {{nullptr, "1", nullptr, "2"}, ".1..2"},
    };
    for (const auto& c : cases) {
        char out[kAddressTextMax + 1];
        joinAgentAddress(c.boxes, out);
        EXPECT_STREQ(out, c.expected);
    }
}

TEST(AgentConnection, SendsTheRequestWithTheGivenAddress) {
    gPauses.clear();
    FakeAgent agent(46811);
    EXPECT_EQ(sendAgentRequest("127.0.0.1", "192.0.2.5", quick(46811)), AgentRequestResult::sent);
    agent.finish();
    EXPECT_EQ(agent.connections, requestFor("192.0.2.5"));
    EXPECT_EQ(gPauses, std::vector<int>{1000});
}

TEST(AgentConnection, FallsBackToTheConnectionsOwnAddress) {
    FakeAgent agent(46812);
    EXPECT_EQ(sendAgentRequest("127.0.0.1", "", quick(46812)), AgentRequestResult::sent);
    agent.finish();
    EXPECT_EQ(agent.connections, requestFor("127.0.0.1"));
    FakeAgent again(46813);
    EXPECT_EQ(sendAgentRequest("127.0.0.1", nullptr, quick(46813)), AgentRequestResult::sent);
    again.finish();
    EXPECT_EQ(again.connections, requestFor("127.0.0.1"));
}

TEST(AgentConnection, FailsWithoutAnAgentOrAnAddress) {
    gPauses.clear();
    EXPECT_EQ(sendAgentRequest("127.0.0.1", "192.0.2.5", quick(46814)), AgentRequestResult::noAnswer);
    EXPECT_EQ(sendAgentRequest("...", "192.0.2.5", quick(46814)), AgentRequestResult::badAddress);
    EXPECT_EQ(sendAgentRequest("1.2.3.", "192.0.2.5", quick(46814)), AgentRequestResult::badAddress);
    EXPECT_EQ(sendAgentRequest(nullptr, "192.0.2.5", quick(46814)), AgentRequestResult::badAddress);
    EXPECT_TRUE(gPauses.empty());
}

TEST(AgentConnection, OverlongLocalAddressSendsNothing) {
    FakeAgent agent(46815);
    EXPECT_EQ(sendAgentRequest("127.0.0.1", "1234567890.1234567", quick(46815)),
              AgentRequestResult::noLocalAddress);
    agent.finish();
    EXPECT_EQ(agent.connections, Connections(2));
}

TEST(AgentConnection, ButtonStepsOnSuccess) {
    auto state = std::make_unique<GpuPanelState>();
    initGpuPanelState(*state);
    gWatched = state.get();
    gPauses.clear();
    gFlagDuringPause.clear();
    gTitle.clear();
    gTitleWrites = 0;
    IntakeWindowHooks hooks;
    hooks.writeTitle = writeTitle;
    hooks.resetTabs = resetTabs;
    gBoxes[0] = "127";
    gBoxes[1] = "0";
    gBoxes[2] = "0";
    gBoxes[3] = "1";
    ConnectSteps steps;
    steps.readBoxes = readBoxes;
    steps.findLocalAddress = fixedLocal;
    steps.request = quick(46816);
    FakeAgent agent(46816);
    EXPECT_EQ(connectToAgent(*state, hooks, steps), ConnectOutcome::requested);
    agent.finish();
    EXPECT_EQ(agent.connections, requestFor("192.0.2.5"));
    EXPECT_EQ(gPauses, (std::vector<int>{2000, 1000}));
    // Raised during the drop pause, lowered before the request.
    EXPECT_EQ(gFlagDuringPause, (std::vector<int32_t>{1, 0}));
    char address[kAddressTextMax + 1];
    copyAgentAddress(*state, address);
    EXPECT_STREQ(address, "127.0.0.1");
    EXPECT_EQ(gTitle, std::wstring(kConsoleTitle));
    EXPECT_EQ(gTitleWrites, 1);
    EXPECT_EQ(relaxed(state->gpuCount), 0);
    gWatched = nullptr;
}

TEST(AgentConnection, ButtonStepsOnFailureForgetTheAddressAndReset) {
    auto state = std::make_unique<GpuPanelState>();
    initGpuPanelState(*state);
    store(state->slots[0].gpuLoad, 77);
    gTitle.clear();
    gResetLabel.clear();
    IntakeWindowHooks hooks;
    hooks.writeTitle = writeTitle;
    hooks.resetTabs = resetTabs;
    struct Case {
        const char* boxes[4];
        bool (*local)(char*);
    };
    const Case cases[] = {
        {{"127", "0", "0", "1"}, noLocal}, // nobody listening
        {{"", "", "", ""}, fixedLocal},    // "..." cannot be read
        {{"999", "0", "0", "1"}, fixedLocal},
    };
    for (const auto& c : cases) {
        for (int i = 0; i < 4; ++i)
            gBoxes[i] = c.boxes[i];
        ConnectSteps steps;
        steps.readBoxes = readBoxes;
        steps.findLocalAddress = c.local;
        steps.request = quick(46817);
        EXPECT_EQ(connectToAgent(*state, hooks, steps), ConnectOutcome::failed);
        char address[kAddressTextMax + 1];
        copyAgentAddress(*state, address);
        EXPECT_STREQ(address, "");
        EXPECT_EQ(relaxed(state->gpuCount), 1);
        EXPECT_EQ(relaxed(state->slots[0].gpuLoad), 0);
        EXPECT_EQ(relaxed(state->reconnectRequested), 0);
        EXPECT_EQ(gTitle, std::wstring(kConsoleTitle));
        EXPECT_EQ(gResetLabel, std::string(kEmptyTabLabel));
    }
}

TEST(AgentConnection, ButtonListensFirstAndAsksNothingWhenItCannot) {
    const uint16_t consolePort = 46820, agentPort = 46821;
    netStartup();
    IntakeWindowHooks hooks;
    hooks.writeTitle = writeTitle;
    hooks.resetTabs = resetTabs;
    struct Case {
        const char* name;
        bool heldElsewhere;
        bool listeningAlready;
        ConnectOutcome outcome;
    };
    const Case cases[] = {
        {"port held by another program", true, false, ConnectOutcome::cannotListen},
        {"port free", false, false, ConnectOutcome::requested},
        {"already listening keeps its port", false, true, ConnectOutcome::requested},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto state = std::make_unique<GpuPanelState>();
        initGpuPanelState(*state);
        setAgentAddress(*state, "192.0.2.20");
        store(state->gpuCount, 3);
        ListenerSlot listener;
        listener.bindAddress = "127.0.0.1";
        listener.port = consolePort;
        TcpSocket other = c.heldElsewhere ? tcpListen("127.0.0.1", consolePort, 1) : kNoSocket;
        if (c.listeningAlready) {
            ASSERT_TRUE(ensureListening(listener));
        }
        for (int i = 0; i < 4; ++i)
            gBoxes[i] = i == 0 ? "127" : i == 3 ? "1" : "0";
        ConnectSteps steps;
        steps.listener = &listener;
        steps.readBoxes = readBoxes;
        steps.findLocalAddress = fixedLocal;
        steps.request = quick(agentPort);
        gPauses.clear();
        FakeAgent agent(agentPort);
        EXPECT_EQ(connectToAgent(*state, hooks, steps), c.outcome);
        agent.finish();
        bool asked = c.outcome == ConnectOutcome::requested;
        EXPECT_EQ(agent.connections, asked ? requestFor("192.0.2.5") : Connections());
        // The Console listens afterwards exactly when it could bind.
        tcpClose(other);
        TcpSocket probe = tcpConnect(addr("127.0.0.1"), consolePort, 1000);
        EXPECT_EQ(probe != kNoSocket, asked);
        tcpClose(probe);
        if (!asked) {
            char address[kAddressTextMax + 1];
            copyAgentAddress(*state, address);
            EXPECT_STREQ(address, "192.0.2.20");
            EXPECT_EQ(relaxed(state->gpuCount), 3);
            EXPECT_TRUE(gPauses.empty());
        }
        closeListener(listener);
    }
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
