#include "console/intake/link/agent_connection.h"

#include "console/intake/link/intake.h"
#include "net/tcp.h"
#include "tests/support/close_listener.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Each pause asked for, and the reconnect flag as it reads then.
std::vector<int> gPauses;
GpuPanelState* gWatched = nullptr;
std::wstring gWindow; // titles written, and each reset of the tabs
const char *gBoxes = nullptr, *gLocal = nullptr;

// What each connection waiting on an Agent's listener carried, until none is left.
std::vector<std::vector<uint8_t>> drain(TcpSocket listener) {
    std::vector<std::vector<uint8_t>> connections;
    char peer[16];
    for (TcpSocket s; listener != kNoSocket && (s = tcpAccept(listener, 200, peer)) != kNoSocket;
         tcpClose(s)) {
        connections.emplace_back();
        uint8_t buffer[64];
        for (int n; (n = tcpRecvOnce(s, buffer, sizeof buffer, 1000)) > 0;)
            connections.back().insert(connections.back().end(), buffer, buffer + n);
    }
    return connections;
}

} // namespace

TEST(AgentConnection, ChoosesFirstPrimaryDhcpRow) {
    const struct {
        std::vector<std::pair<const char*, uint32_t>> rows; // address, type flags
        const char* text;                                   // nullptr: none
    } cases[] = {
        {{{"192.168.1.9", 1}, {"10.0.0.7", 5}, {"10.0.0.8", 5}}, "10.0.0.7"},
        {{{"192.0.2.5", 1}, {"10.1.1.1", 5 | 8}, {"10.1.1.2", 4}}, nullptr},
    };
    for (const auto& c : cases) {
        std::vector<AddressRow> rows(c.rows.size());
        for (size_t i = 0; i < rows.size(); ++i)
            rows[i].typeFlags = parseInetAddr(c.rows[i].first, &rows[i].address) ? c.rows[i].second : 0;
        char out[16] = "unchanged";
        EXPECT_EQ(localAddressFromRows(rows.data(), static_cast<int>(rows.size()), out), c.text != nullptr);
        EXPECT_STREQ(out, c.text ? c.text : "unchanged");
    }
}

// "接続": listen first, drop the connection served, read the boxes, ask the Agent.
TEST(AgentConnection, ButtonListensDropsReadsAndAsks) {
    const uint16_t consolePort = 29992, agentPort = 29993;
    const struct {
        const char *boxes, *local; // the four boxes, dot between; the local address found, if any
        bool agent, heldElsewhere, listeningAlready;
        ConnectOutcome outcome;
        const char* carried; // the address in the request; nullptr: none sent
    } cases[] = {
        {"127.0.0.1", "192.0.2.5", true, false, false, ConnectOutcome::Requested, "192.0.2.5"},
        {"127.0.0.1", nullptr, true, false, true, ConnectOutcome::Requested, "127.0.0.1"},
        {"127.0.0.1", "192.0.2.5", false, false, false, ConnectOutcome::Failed, nullptr},
        {"999.0.0.1", "192.0.2.5", true, false, false, ConnectOutcome::Failed, nullptr},
        {"127.0.0.1", "192.0.2.5", true, true, false, ConnectOutcome::CannotListen, nullptr},
    };
    netStartup();
    IntakeWindowCallbacks hooks;
    hooks.writeTitle = [](void*, const wchar_t* t) { gWindow += t; };
    hooks.resetTabs = [](void*, const char* l) {
        gWindow += std::strcmp(l, kEmptyTabLabel) ? L"|?" : L"|empty";
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.boxes + std::to_string(int(c.outcome)));
        auto state = std::make_unique<GpuPanelState>();
        initGpuPanelState(*state);
        setAgentAddress(*state, "192.0.2.20");
        store(state->gpuCount, 3);
        store(state->slots[0].gpuLoad, 77);
        gWatched = state.get();
        gPauses.clear();
        gWindow.clear();
        gBoxes = c.boxes;
        gLocal = c.local;
        ListenerSlot listener{"127.0.0.1", consolePort};
        TcpSocket other = c.heldElsewhere ? tcpListen("127.0.0.1", consolePort, 1) : kNoSocket;
        ASSERT_TRUE(!c.listeningAlready || ensureListening(listener));
        ConnectConfig config;
        config.listener = &listener;
        ConnectCallbacks steps;
        steps.readBoxes = [](void*, char boxes[4][kBoxChars + 2]) {
            std::sscanf(gBoxes, "%3[0-9].%3[0-9].%3[0-9].%3[0-9]", boxes[0], boxes[1], boxes[2], boxes[3]);
        };
        steps.findLocalAddress = [](void*, char out[16]) { return gLocal && std::strcpy(out, gLocal); };
        config.request.port = agentPort;
        steps.pause = [](void*, int ms) {
            gPauses.insert(gPauses.end(), {ms, relaxed(gWatched->reconnectRequested)});
        };
        TcpSocket agent = c.agent ? tcpListen("127.0.0.1", agentPort, 4) : kNoSocket;
        EXPECT_EQ(connectToAgent(*state, hooks, config, steps), c.outcome);
        // The request, the address text then zeros to 20 bytes, goes over the first of two connections.
        std::string r = c.carried ? c.carried : "";
        r.resize(20, '\0');
        const std::vector<std::vector<uint8_t>> request = {std::vector<uint8_t>(r.begin(), r.end()), {}};
        EXPECT_EQ(drain(agent), c.carried ? request : std::vector<std::vector<uint8_t>>());
        tcpClose(agent);
        // By outcome: the flag is up during the drop pause and down before the request.
        const std::vector<int> pauses[] = {{2000, 1, 1000, 0}, {2000, 1}, {}};
        const char* const addresses[] = {"127.0.0.1", "", "192.0.2.20"};
        const std::wstring windows[] = {kConsoleTitle, kConsoleTitle + std::wstring(L"|empty"), L""};
        const bool failed = c.outcome == ConnectOutcome::Failed;
        EXPECT_EQ(gPauses, pauses[int(c.outcome)]);
        char address[kAddressTextMax + 1];
        copyAgentAddress(*state, address);
        EXPECT_STREQ(address, addresses[int(c.outcome)]);
        EXPECT_EQ((std::vector<int>{relaxed(state->gpuCount), relaxed(state->slots[0].gpuLoad),
                                    relaxed(state->reconnectRequested)}),
                  (std::vector<int>{failed ? 1 : 3, failed ? 0 : 77, 0}));
        EXPECT_EQ(gWindow, windows[int(c.outcome)]);
        tcpClose(other);
        closeListener(listener);
    }
    gWatched = nullptr;
    netCleanup();
}
