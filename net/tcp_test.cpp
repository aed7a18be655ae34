#include "net/tcp.h"

#include "tests/support/agent_peer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <vector>

namespace {

// The address's four bytes in network order; empty when refused.
TEST(InetAddr, ReadsTheWayInetAddrDoes) {
    const struct {
        const char* text;
        std::vector<int> bytes;
    } cases[] = {
        {"192.0.2.20", {192, 0, 2, 20}},
        {"255.255.255.255", {255, 255, 255, 255}},
        {"010.0.0.1", {8, 0, 0, 1}},     // leading zero: octal
        {"0x7f.1", {127, 0, 0, 1}},      // two parts: last one fills 24 bits
        {"127.1.2", {127, 1, 0, 2}},
        {"3232235777", {192, 168, 1, 1}},
        {"...", {}},
        {"1.2.3.256", {}},
        {"1.2.3.4.5", {}},
        {"08.1.1.1", {}},
        {"1.2.3.4x", {}},
        {"0x.1.1.1", {}},
    };
    for (const auto& c : cases) {
        uint32_t address = 0;
        uint8_t b[4];
        bool ok = parseInetAddr(c.text, &address);
        std::memcpy(b, &address, 4);
        EXPECT_EQ(c.bytes, ok ? std::vector<int>(b, b + 4) : std::vector<int>()) << c.text;
    }
}

// Sending to a peer that never reads gives up when the time is out instead of
// blocking for ever.
TEST(Tcp, SendAllGivesUpOnAPeerThatDoesNotRead) {
    ASSERT_TRUE(netStartup());
    const uint16_t port = testPorts(3);
    TcpSocket listener = tcpListen("127.0.0.1", port, 1);
    uint32_t loopback = 0;
    parseInetAddr("127.0.0.1", &loopback);
    TcpSocket client = tcpConnect(loopback, port, 2000);
    char peer[16];
    TcpSocket server = tcpAccept(listener, 2000, peer);
    ASSERT_NE(kNoSocket, server);
    std::vector<char> lots(16 << 20, 'a');
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(kTcpFailed, tcpSendAll(client, lots.data(), static_cast<int>(lots.size()), 300));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    for (TcpSocket s : {client, server, listener})
        tcpClose(s);
    netCleanup();
}

} // namespace
