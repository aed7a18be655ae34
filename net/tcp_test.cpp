#include "net/tcp.h"

#include "tests/support/agent_peer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace {

TEST(InetAddr, ReadsTheWayInetAddrDoes) {
    struct Case {
        const char* text;
        bool ok;
        const char* dotted;
    } cases[] = {
        {"192.0.2.20", true, "192.0.2.20"},
        {"255.255.255.255", true, "255.255.255.255"},
        {"010.0.0.1", true, "8.0.0.1"}, // leading zero: octal
        {"0x7f.1", true, "127.0.0.1"},  // two parts: last one fills 24 bits
        {"127.1.2", true, "127.1.0.2"},
        {"3232235777", true, "192.168.1.1"},
        {"...", false, ""},
        {"1.2.3.256", false, ""},
        {"1.2.3.4.5", false, ""},
        {"08.1.1.1", false, ""},
        {"1.2.3.4x", false, ""},
        {"0x.1.1.1", false, ""},
    };
    for (const Case& c : cases) {
        uint32_t address = 0;
        ASSERT_EQ(c.ok, parseInetAddr(c.text, &address)) << c.text;
        if (c.ok) {
            char dotted[16];
            formatInetAddr(address, dotted);
            EXPECT_STREQ(c.dotted, dotted) << c.text;
        }
    }
}

// After the listener closes, a connect to its port is refused at once, not at
// the end of the time-out.
TEST(Tcp, ConnectAcceptSendReceiveOnLoopback) {
    ASSERT_TRUE(netStartup());
    const uint16_t port = testPorts(3);
    TcpSocket listener = tcpListen("127.0.0.1", port, 1);
    ASSERT_NE(kNoSocket, listener);
    uint32_t loopback;
    ASSERT_TRUE(parseInetAddr("127.0.0.1", &loopback));
    TcpSocket client = tcpConnect(loopback, port, 2000);
    char peer[16] = {}, local[16] = {}, buf[8] = {};
    TcpSocket server = tcpAccept(listener, 2000, peer);
    ASSERT_NE(kNoSocket, server);
    ASSERT_TRUE(tcpLocalAddress(client, local));
    EXPECT_EQ(5, tcpSendOnce(client, "hello", 5));
    EXPECT_EQ(5, tcpRecvOnce(server, buf, sizeof buf, 2000));
    EXPECT_EQ((std::vector<std::string>{"127.0.0.1", "127.0.0.1", "hello"}),
              (std::vector<std::string>{peer, local, buf}));
    EXPECT_EQ(kTcpTimedOut, tcpRecvOnce(server, buf, sizeof buf, 50)); // nothing more: time-out
    tcpClose(client);
    EXPECT_EQ(0, tcpRecvOnce(server, buf, sizeof buf, 2000)); // peer closed
    tcpClose(server);
    bool timedOut = false;
    EXPECT_EQ(kNoSocket, tcpAccept(listener, 50, peer, &timedOut));
    EXPECT_TRUE(timedOut);
    tcpClose(listener);

    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(kNoSocket, tcpConnect(loopback, port, 10000));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    netCleanup();
}

// Waiting on several sockets names the ones with something to read; sending
// to a peer that never reads gives up when the time is out instead of
// blocking for ever, and a peer that reads gets every byte.
TEST(Tcp, WaitOnSeveralAndSendAllWithinATime) {
    ASSERT_TRUE(netStartup());
    const uint16_t port = static_cast<uint16_t>(testPorts(3) + 1);
    TcpSocket listener = tcpListen("127.0.0.1", port, 4);
    ASSERT_NE(kNoSocket, listener);
    uint32_t loopback;
    ASSERT_TRUE(parseInetAddr("127.0.0.1", &loopback));
    TcpSocket quiet = tcpConnect(loopback, port, 2000), talker = tcpConnect(loopback, port, 2000);
    char peer[16];
    TcpSocket quietIn = tcpAccept(listener, 2000, peer), talkerIn = tcpAccept(listener, 2000, peer);
    ASSERT_NE(kNoSocket, talkerIn);
    EXPECT_EQ(1, tcpSendOnce(talker, "x", 1));
    TcpSocket watched[] = {listener, quietIn, kNoSocket, talkerIn};
    bool ready[4];
    EXPECT_EQ(1, tcpWaitReadable(watched, 4, 2000, ready));
    EXPECT_EQ((std::vector<bool>{false, false, false, true}), std::vector<bool>(ready, ready + 4));

    std::vector<char> lots(16 << 20, 'a');
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(kTcpFailed, tcpSendAll(quiet, lots.data(), static_cast<int>(lots.size()), 300));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));

    std::vector<char> some(1 << 20, 'b');
    int got = 0; // the "x" and then all of some
    std::thread reader([&] {
        std::vector<char> in(some.size() + 1);
        for (int n;
             got < static_cast<int>(in.size()) &&
             (n = tcpRecvOnce(talkerIn, in.data() + got, static_cast<int>(in.size()) - got, 3000)) > 0;)
            got += n;
    });
    EXPECT_EQ(static_cast<int>(some.size()),
              tcpSendAll(talker, some.data(), static_cast<int>(some.size()), 3000));
    reader.join();
    EXPECT_EQ(static_cast<int>(some.size()) + 1, got);
    for (TcpSocket s : {quiet, talker, quietIn, talkerIn, listener})
        tcpClose(s);
    netCleanup();
}

} // namespace
