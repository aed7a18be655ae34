// The Agent's peers as its tests play them: the Console that asks for reports
// and reads blocks, a scraper of the metrics endpoint; and the ports they use.
#pragma once
#include "net/tcp.h"
#include "protocol/wire.h"
#include "tests/support/process_id.h"
#include "tests/support/wait.h"

#include <cstring>
#include <string>

// Twenty ports for one use (0 to 3) in this test process: apart from other
// processes' and below the ephemeral range (32768 up), where client sockets sit.
inline uint16_t testPorts(int use) {
    return static_cast<uint16_t>(13000 + use * 4000 + (GAUGELINE_PID % 200) * 20);
}

// Connects from the address to the Agent on 127.0.0.1, retrying while it is
// not yet listening.
inline TcpSocket connectToAgent(uint16_t port, const char* from = "127.0.0.1", int withinMs = 10000) {
    uint32_t loopback = 0, local = 0;
    parseInetAddr("127.0.0.1", &loopback);
    parseInetAddr(from, &local);
    TcpSocket s = kNoSocket;
    eventually([&] { return (s = tcpConnectFrom(local, loopback, port, 500)) != kNoSocket; }, withinMs, 50);
    return s;
}

// A whole request in one send: the address, its terminating zero, then filler.
inline bool sendReportRequest(TcpSocket s, const char* address, uint8_t filler = 0) {
    uint8_t request[kRequestBytes];
    std::memset(request, filler, sizeof request);
    std::memcpy(request, address, std::strlen(address) + 1);
    return tcpSendOnce(s, request, kRequestBytes) == kRequestBytes;
}

// Acts as the Console at from: listens on reportPort, asks the Agent at
// listenPort to report to 127.0.0.1 and returns the report connection.
inline TcpSocket askForReports(uint16_t listenPort, uint16_t reportPort, const char* from = "127.0.0.1",
                               int acceptMs = 10000) {
    TcpSocket listener = tcpListen("127.0.0.1", reportPort, 1);
    TcpSocket request = connectToAgent(listenPort, from);
    bool sent = request != kNoSocket && sendReportRequest(request, "127.0.0.1");
    tcpClose(request);
    char peer[16];
    TcpSocket report = sent ? tcpAccept(listener, acceptMs, peer) : kNoSocket;
    tcpClose(listener);
    return report;
}

// One whole block (TCP may split it).
inline bool readReportBlock(TcpSocket s, std::string* block) {
    block->assign(kReportBlockBytes, '\0');
    for (int got = 0, r = 0; got < kReportBlockBytes; got += r)
        if ((r = tcpRecvOnce(s, &(*block)[got], kReportBlockBytes - got, 5000)) <= 0)
            return false;
    return true;
}

constexpr char kScrapeRequest[] = "GET /metrics HTTP/1.1\r\nHost: agent\r\n\r\n";

// Sends the request and returns what comes back until the peer closes, with
// "<open>" after it when the peer keeps silent 3 s; closes s.
inline std::string exchange(TcpSocket s, const std::string& request) {
    if (s == kNoSocket)
        return "<no connection>";
    std::string got;
    tcpSendAll(s, request.data(), static_cast<int>(request.size()), 3000);
    char buffer[4096];
    int n;
    while ((n = tcpRecvOnce(s, buffer, sizeof buffer, 3000)) > 0)
        got.append(buffer, n);
    tcpClose(s);
    return n == kTcpTimedOut ? got + "<open>" : got;
}

// One scrape of the metrics endpoint on 127.0.0.1 from the address.
inline std::string scrape(uint16_t port, const char* from = "127.0.0.1") {
    uint32_t loopback = 0, local = 0;
    parseInetAddr("127.0.0.1", &loopback);
    parseInetAddr(from, &local);
    return exchange(tcpConnectFrom(local, loopback, port, 3000), kScrapeRequest);
}
