// The receiver over loopback, with the real TCP layer and a thread of its own.
#include "console/intake/intake.h"
#include "net/tcp.h"
#include "protocol/report_block.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cwchar>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <winsock2.h>
#else
#include <sys/socket.h>
#endif

namespace {

// Each case gets its own port so cases can run side by side.
uint16_t testPort() {
    const char* name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    return static_cast<uint16_t>(59100 + std::hash<std::string>()(name) % 800);
}

std::atomic<int> gTitleResets{0};
// A title read waits while the window's thread is held, as it is while "接続"
// pauses and asks; "接続" leaves the bare product name, which the read then
// sees. An unheld read finds no title, so nothing is written.
std::atomic<bool> gHoldWindow{false};
std::atomic<bool> gInWindowCall{false};
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

bool eventually(const std::function<bool()>& condition) {
    for (int i = 0; i < 250; ++i) {
        if (condition())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

class Receiver : public ::testing::Test {
  protected:
    void SetUp() override {
        netStartup();
        initGpuPanelState(state);
        gTitleResets = 0;
        hooks.writeTitle = [](void*, const wchar_t* title) {
            if (wcscmp(title, kConsoleTitle) == 0)
                ++gTitleResets;
        };
        hooks.readTitle = readTitleWhenFree;
        listener.bindAddress = "127.0.0.1";
        listener.port = testPort();
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

    TcpSocket connectToConsole() {
        TcpSocket s = kNoSocket;
        eventually([&] { return (s = tcpConnect(loopback, listener.port, 1000)) != kNoSocket; });
        return s;
    }
    // True when the Console let the connection go: a receive sees the end, or a
    // reset when the Console closed with bytes of ours still unread.
    static bool closedByConsole(TcpSocket s) {
        char byte;
        int n = tcpRecvOnce(s, &byte, 1, 3000);
        return n == 0 || n == -1;
    }
    static std::vector<uint8_t> makeBlock(uint32_t clock, int gpuCount) {
        GpuSample samples[kGpuSlotCount];
        for (auto& sample : samples)
            clearGpuSample(&sample);
        samples[0].graphicsClock = clock;
        std::vector<uint8_t> block(kReportBlockBytes);
        buildReportBlock(samples, gpuCount, "127.0.0.1", block.data());
        return block;
    }
    static void sendBlock(TcpSocket s, uint32_t clock, int gpuCount) {
        ASSERT_EQ(kReportBlockBytes, tcpSendOnce(s, makeBlock(clock, gpuCount).data(), kReportBlockBytes));
    }
    // Closes with a reset (linger 0): the Console's receive fails instead of ending.
    static void abortConnection(TcpSocket s) {
        linger off{1, 0};
        setsockopt(static_cast<decltype(socket(0, 0, 0))>(s), SOL_SOCKET, SO_LINGER,
                   reinterpret_cast<const char*>(&off), sizeof off);
        tcpClose(s);
    }

    GpuPanelState state;
    IntakeWindowHooks hooks;
    ListenerSlot listener;
    ReceiverConfig config;
    std::atomic<int> keepRunning{1};
    std::thread thread, reader;
    uint32_t loopback = 0;
};

TEST_F(Receiver, GathersBlocksThatArriveInPieces) {
    setAgentAddress(state, "127.0.0.1");
    TcpSocket s = connectToConsole();
    ASSERT_NE(kNoSocket, s);
    std::vector<int> byteByByte(kReportBlockBytes, 1);
    const std::vector<int> cases[] = {{1, 4095}, {1448, 2648}, byteByByte};
    int32_t clock = 1000000;
    for (const std::vector<int>& pieces : cases) {
        const std::vector<uint8_t> block = makeBlock(++clock, 1);
        int at = 0;
        for (int size : pieces) {
            ASSERT_EQ(size, tcpSendOnce(s, block.data() + at, size));
            at += size;
            // Lets each piece arrive on its own; the outcome does not depend on it.
            if (pieces.size() < 10)
                std::this_thread::sleep_for(std::chrono::milliseconds(40));
        }
        ASSERT_TRUE(eventually([&] { return relaxed(state.slots[0].graphicsClock) == clock; }))
            << pieces.size();
        sendBlock(s, ++clock, 1);
        ASSERT_TRUE(eventually([&] { return relaxed(state.slots[0].graphicsClock) == clock; }))
            << pieces.size();
    }
    tcpClose(s);
}

TEST_F(Receiver, ResetsWhenTheAgentGoesAndWaitsForItAgain) {
    setAgentAddress(state, "127.0.0.1");
    struct Case {
        bool midBlock; // the connection ends with part of a block in hand
        bool abort;    // reset by the peer instead of an orderly close
    } cases[] = {{false, false}, {true, false}, {false, true}, {true, true}};
    int resets = 0;
    for (const Case& c : cases) {
        TcpSocket s = connectToConsole();
        ASSERT_NE(kNoSocket, s);
        sendBlock(s, 1733000, 2);
        ASSERT_TRUE(eventually([&] { return relaxed(state.slots[0].graphicsClock) == 1733000; }));
        EXPECT_EQ(2, relaxed(state.gpuCount));
        if (c.midBlock) {
            ASSERT_EQ(2000, tcpSendOnce(s, makeBlock(1800000, 2).data(), 2000));
        }
        if (c.abort)
            abortConnection(s);
        else
            tcpClose(s);
        ASSERT_TRUE(eventually([&] { return gTitleResets.load() == resets + 1; })) << c.midBlock << c.abort;
        ++resets;
        EXPECT_EQ(1, relaxed(state.gpuCount));
        EXPECT_EQ(0, relaxed(state.slots[0].graphicsClock));
    }
}

TEST_F(Receiver, ReconnectRequestDropsTheConnectionWithoutReset) {
    // Held: the flag is up until the connection goes, a block begun but not
    // finished. Missed: raised and lowered while the receiver waits for the
    // window, as when "接続" pauses on the window's own thread; the title that
    // block would name the old Agent in goes back to the bare product name.
    for (bool whileInWindowCall : {false, true}) {
        setAgentAddress(state, "127.0.0.1");
        TcpSocket s = connectToConsole();
        sendBlock(s, 1000000, 3);
        ASSERT_TRUE(eventually([&] { return relaxed(state.gpuCount) == 3; }));
        if (whileInWindowCall) {
            gHoldWindow = true;
            sendBlock(s, 1100000, 3);
            ASSERT_TRUE(eventually([&] { return gInWindowCall.load(); }));
        } else {
            uint8_t part[100] = {};
            ASSERT_EQ(100, tcpSendOnce(s, part, sizeof part));
        }
        state.reconnectCount.fetch_add(1);
        store(state.reconnectRequested, 1);
        if (whileInWindowCall) {
            store(state.reconnectRequested, 0);
            gHoldWindow = false;
        }
        EXPECT_TRUE(closedByConsole(s)) << whileInWindowCall;
        tcpClose(s);
        EXPECT_EQ(3, relaxed(state.gpuCount));
        EXPECT_EQ(whileInWindowCall ? 1 : 0, gTitleResets.exchange(0)) << whileInWindowCall;
        store(state.reconnectRequested, 0);
    }
}

} // namespace
