// The receiver over loopback, with the real TCP layer and a thread of its own.
#include "console/intake/intake.h"
#include "net/tcp.h"
#include "protocol/report_block.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

namespace {

// Each case gets its own port so cases can run side by side.
uint16_t testPort() {
    const char* name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    return static_cast<uint16_t>(59100 + std::hash<std::string>()(name) % 800);
}

std::atomic<int> gTitleResets{0};

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
        hooks.writeTitle = [](const wchar_t*) { ++gTitleResets; };
        config.bindAddress = "127.0.0.1";
        config.port = testPort();
        config.keepRunning = &keepRunning;
        thread = std::thread([this] { runReceiver(state, hooks, config); });
        ASSERT_TRUE(parseInetAddr("127.0.0.1", &loopback));
    }
    void TearDown() override {
        keepRunning = 0;
        thread.join();
        netCleanup();
    }

    TcpSocket connectToConsole() {
        TcpSocket s = kNoSocket;
        eventually([&] { return (s = tcpConnect(loopback, config.port, 1000)) != kNoSocket; });
        return s;
    }
    // True when the Console closed the connection (a receive sees the end).
    static bool closedByConsole(TcpSocket s) {
        char byte;
        return tcpRecvOnce(s, &byte, 1, 3000) == 0;
    }
    void sendBlock(TcpSocket s, uint32_t clock, int gpuCount = 1) {
        GpuSample samples[kGpuSlotCount];
        for (auto& sample : samples)
            clearGpuSample(&sample);
        samples[0].graphicsClock = clock;
        uint8_t block[kReportBlockBytes];
        buildReportBlock(samples, gpuCount, "127.0.0.1", block);
        ASSERT_EQ(kReportBlockBytes, tcpSendOnce(s, block, kReportBlockBytes));
    }

    GpuPanelState state;
    IntakeWindowHooks hooks;
    ReceiverConfig config;
    std::atomic<int> keepRunning{1};
    std::thread thread;
    uint32_t loopback = 0;
};

TEST_F(Receiver, RefusesEveryPeerUntilItsAddressIsTyped) {
    for (const char* typed : {"", "127.0.0.2", "127.000.0.1", "127.0.0.10"}) {
        setAgentAddress(state, typed);
        TcpSocket s = connectToConsole();
        ASSERT_NE(kNoSocket, s);
        EXPECT_TRUE(closedByConsole(s)) << '"' << typed << '"';
        tcpClose(s);
    }
    EXPECT_EQ(0, relaxed(state.gpuCount));
    EXPECT_EQ(0, gTitleResets.load());
}

TEST_F(Receiver, ServesTheTypedAgentDropsShortReadsAndResetsWhenItGoes) {
    setAgentAddress(state, "127.0.0.1");
    TcpSocket s = connectToConsole();
    ASSERT_NE(kNoSocket, s);
    sendBlock(s, 1733000, 2);
    ASSERT_TRUE(eventually([&] { return relaxed(state.slots[0].graphicsClock) == 1733000; }));
    EXPECT_EQ(2, relaxed(state.gpuCount));

    // A short read is dropped whole; the next full block is taken.
    uint8_t partial[kReportBlockBytes - 1] = {};
    std::memcpy(partial, "127.0.0.1\n1\nX\n\n1\n1\n999\n", 24);
    ASSERT_EQ(kReportBlockBytes - 1, tcpSendOnce(s, partial, sizeof partial));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    sendBlock(s, 1800000);
    ASSERT_TRUE(eventually([&] { return relaxed(state.slots[0].graphicsClock) == 1800000; }));

    tcpClose(s);
    ASSERT_TRUE(eventually([&] { return gTitleResets.load() == 1; }));
    EXPECT_EQ(1, relaxed(state.gpuCount));
    EXPECT_EQ(0, relaxed(state.slots[0].graphicsClock));

    // Waiting again for the same address.
    s = connectToConsole();
    sendBlock(s, 1500000);
    EXPECT_TRUE(eventually([&] { return relaxed(state.slots[0].graphicsClock) == 1500000; }));
    tcpClose(s);
}

TEST_F(Receiver, ReconnectRequestDropsTheConnectionWithoutReset) {
    setAgentAddress(state, "127.0.0.1");
    TcpSocket s = connectToConsole();
    sendBlock(s, 1000000, 3);
    ASSERT_TRUE(eventually([&] { return relaxed(state.gpuCount) == 3; }));
    store(state.reconnectRequested, 1);
    EXPECT_TRUE(closedByConsole(s));
    tcpClose(s);
    EXPECT_EQ(3, relaxed(state.gpuCount));
    EXPECT_EQ(0, gTitleResets.load());
    store(state.reconnectRequested, 0);
}

TEST_F(Receiver, ReadersRaceTheWriterSafely) {
    setAgentAddress(state, "127.0.0.1");
    TcpSocket s = connectToConsole();
    std::atomic<bool> stop{false};
    std::thread reader([&] {
        while (!stop) {
            PanelSlotSnapshot snap = snapshotPanelSlot(state, 0);
            (void)snap;
            char label[kAgentLabelChars + 1];
            copyAgentLabel(state, label);
        }
    });
    for (uint32_t i = 1; i <= 20; ++i) {
        sendBlock(s, i * 1000);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_TRUE(eventually([&] { return relaxed(state.slots[0].graphicsClock) > 0; }));
    stop = true;
    reader.join();
    tcpClose(s);
}

} // namespace
