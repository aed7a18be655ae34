// The receiver over loopback, with the real TCP layer and a thread of its own.
#include "console/intake/link/intake.h"
#include "net/tcp.h"
#include "protocol/report_block.h"
#include "tests/support/close_listener.h"
#include "tests/support/wait.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cwchar>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <winsock2.h>
#else
#include <sys/socket.h>
#endif

namespace {

std::atomic<int> gTitleResets{0};
// A title read waits while the window's thread is held, as it is while "接続"
// pauses and asks; "接続" leaves the bare product name, which the read then
// sees. An unheld read finds no title, so nothing is written.
std::atomic<bool> gHoldWindow{false}, gInWindowCall{false};
bool readTitleWhenFree(void*, wchar_t* out, int outChars) {
    if (!gHoldWindow)
        return false;
    while (gHoldWindow) {
        gInWindowCall = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    gInWindowCall = false;
    wcsncpy(out, kConsoleTitle, outChars - 1);
    out[outChars - 1] = L'\0';
    return true;
}

std::vector<uint8_t> makeBlock(uint32_t clock) {
    GpuSample samples[kGpuSlotCount];
    for (auto& sample : samples)
        clearGpuSample(&sample);
    samples[0].graphicsClock = clock;
    std::vector<uint8_t> block(kReportBlockBytes);
    buildReportBlock(samples, 3, "127.0.0.1", block.data());
    return block;
}

class Receiver : public ::testing::Test {
  protected:
    void SetUp() override {
        netStartup();
        initGpuPanelState(state);
        setAgentAddress(state, "127.0.0.1");
        hooks.writeTitle = [](void*, const wchar_t* title) {
            gTitleResets += wcscmp(title, kConsoleTitle) == 0;
        };
        hooks.readTitle = readTitleWhenFree;
        listener.bindAddress = "127.0.0.1";
        listener.port = 29994;
        ASSERT_TRUE(ensureListening(listener));
        config.listener = &listener;
        config.keepRunning = &keepRunning;
        thread = std::thread([this] { runReceiver(state, hooks, config); });
        // Reads the panel as the window does, racing the receiver's writes.
        reader = std::thread([this] {
            char label[kAgentLabelChars + 1];
            while (keepRunning.load()) {
                copyAgentLabel(state, label);
                snapshotPanelSlot(state, 0);
            }
        });
        ASSERT_TRUE(parseInetAddr("127.0.0.1", &loopback));
    }
    void TearDown() override {
        keepRunning = 0;
        thread.join();
        reader.join();
        closeListener(listener);
        netCleanup();
    }
    // Sends the block in pieces of these sizes; true once the panel shows it.
    bool send(TcpSocket s, uint32_t clock, const std::vector<int>& pieces = {kReportBlockBytes}) {
        const std::vector<uint8_t> block = makeBlock(clock);
        int at = 0;
        for (int size : pieces) {
            EXPECT_EQ(size, tcpSendOnce(s, block.data() + at, size));
            at += size;
            // Lets each piece arrive on its own; the outcome does not depend on it.
            if (pieces.size() < 10)
                std::this_thread::sleep_for(std::chrono::milliseconds(40));
        }
        return eventually([&] { return relaxed(state.slots[0].graphicsClock) == int32_t(clock); }, 5000);
    }

    GpuPanelState state;
    IntakeWindowCallbacks hooks;
    ListenerSlot listener;
    ReceiverConfig config;
    std::atomic<int> keepRunning{1};
    std::thread thread, reader;
    uint32_t loopback = 0;
};

TEST_F(Receiver, GathersPiecesResetsWhenTheAgentGoesAndDropsOnReconnect) {
    const struct {
        bool midBlock;         // the connection ends with part of a block in hand
        bool abort;            // reset by the peer (linger 0) instead of an orderly close
        bool reconnect;        // "接続" asks another Agent: dropped, no reset
        bool heldWindow;       // ... while the receiver waits for the window with a block
        bool stranger = false; // the connection comes from an address other than the typed Agent's
    } cases[] = {
        {false, false, false, false},       {true, false, false, false}, {false, true, false, false},
        {true, true, false, false},         {true, false, true, false},  {false, false, true, true},
        {false, false, false, false, true},
    };
    const std::vector<std::vector<int>> pieces = {
        {1, 4095}, {1448, 2648}, std::vector<int>(kReportBlockBytes, 1)};
    uint32_t clock = 1000000;
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.midBlock << c.abort << c.reconnect << c.heldWindow);
        if (c.stranger)
            setAgentAddress(state, "127.0.0.2");
        TcpSocket s = tcpConnect(loopback, listener.port, 1000);
        ASSERT_NE(kNoSocket, s);
        if (c.stranger) {
            // Closed unread: the block never reaches the panel.
            tcpSendOnce(s, makeBlock(7).data(), kReportBlockBytes);
            char byte;
            const int n = tcpRecvOnce(s, &byte, 1, 3000);
            EXPECT_TRUE(n == 0 || n == kTcpFailed) << n;
            tcpClose(s);
            EXPECT_NE(7, relaxed(state.slots[0].graphicsClock));
            continue;
        }
        for (size_t i = 0; &c == cases && i < pieces.size(); ++i)
            ASSERT_TRUE(send(s, ++clock, pieces[i])) << i;
        ASSERT_TRUE(send(s, ++clock));
        EXPECT_EQ(3, relaxed(state.gpuCount));
        if (c.midBlock) {
            ASSERT_EQ(2000, tcpSendOnce(s, makeBlock(1).data(), 2000));
        }
        gHoldWindow = c.heldWindow;
        if (c.heldWindow) {
            ASSERT_EQ(kReportBlockBytes, tcpSendOnce(s, makeBlock(clock).data(), kReportBlockBytes));
            ASSERT_TRUE(eventually([&] { return gInWindowCall.load(); }, 5000));
        }
        if (c.reconnect) {
            state.reconnectCount.fetch_add(1);
            store(state.reconnectRequested, 1);
            // Held: lowered again while the receiver waits for the window.
            store(state.reconnectRequested, c.heldWindow ? 0 : 1);
            gHoldWindow = false;
            char byte;
            // The Console let the connection go: the end, or a reset for our unread bytes.
            const int n = tcpRecvOnce(s, &byte, 1, 3000);
            EXPECT_TRUE(n == 0 || n == kTcpFailed) << n;
        }
        linger off{1, 0};
        if (c.abort)
            setsockopt(static_cast<decltype(socket(0, 0, 0))>(s), SOL_SOCKET, SO_LINGER,
                       reinterpret_cast<const char*>(&off), sizeof off);
        tcpClose(s);
        if (!c.reconnect) {
            ASSERT_TRUE(eventually([&] { return gTitleResets.load() == 1; }, 5000));
        }
        EXPECT_EQ((std::vector<int>{c.reconnect ? 3 : 1, c.reconnect ? int32_t(clock) : 0,
                                    gTitleResets.exchange(0)}),
                  (std::vector<int>{relaxed(state.gpuCount), relaxed(state.slots[0].graphicsClock),
                                    c.heldWindow || !c.reconnect}));
        store(state.reconnectRequested, 0);
    }
}

} // namespace
