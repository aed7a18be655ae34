// A stand-in for the Agent on a Linux test host: waits for a Console's 20-byte
// request, connects back and sends report blocks of an example rig once a
// second (or malformed ones, to try the Console's intake).
#include "protocol/report_block.h"
#include "tests/peers/bad_blocks.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

struct Options {
    uint16_t port = kGaugelinePort;
    int gpus = 1;
    std::string label;   // empty: the local address of the report connection
    int blocks = 0;      // 0: until a send fails
    int serve = 1;       // request/report rounds; 0: for ever
    int badFirst = 0;    // the first N blocks are malformed, cycling through the kinds
    std::string badKind; // or only this kind
    int intervalMs = 1000;
};

void usage() {
    std::fprintf(stderr,
                 "usage: gl-fake-agent [--port P] [--gpus N] [--label ADDR] [--blocks K] [--serve N]\n"
                 "                     [--bad-first N] [--bad-kind KIND] [--interval-ms MS]\n");
}

bool parse(int argc, char** argv, Options* o) {
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (i + 1 >= argc) {
            usage();
            return false;
        }
        const char* v = argv[++i];
        if (a == "--port")
            o->port = static_cast<uint16_t>(std::atoi(v));
        else if (a == "--gpus")
            o->gpus = std::atoi(v);
        else if (a == "--label")
            o->label = v;
        else if (a == "--blocks")
            o->blocks = std::atoi(v);
        else if (a == "--serve")
            o->serve = std::atoi(v);
        else if (a == "--bad-first")
            o->badFirst = std::atoi(v);
        else if (a == "--bad-kind")
            o->badKind = v;
        else if (a == "--interval-ms")
            o->intervalMs = std::atoi(v);
        else {
            usage();
            return false;
        }
    }
    return o->gpus >= 1 && o->gpus <= 8;
}

// One request as the Agent takes it: 20 bytes in one receive.
bool awaitRequest(const Options& o, char address[16]) {
    TcpSocket listener = kNoSocket;
    for (int tries = 0; listener == kNoSocket; ++tries) {
        listener = tcpListen("0.0.0.0", o.port, 1);
        if (listener == kNoSocket) {
            if (tries == 100) {
                std::printf("listen failed\n");
                return false;
            }
            sleepMs(100);
        }
    }
    std::printf("listening port=%u\n", o.port);
    std::fflush(stdout);
    for (;;) {
        char peer[16];
        TcpSocket c = tcpAccept(listener, -1, peer);
        if (c == kNoSocket)
            continue;
        uint8_t request[kRequestBytes];
        for (;;) {
            std::memset(request, 0, sizeof request);
            int n = tcpRecvOnce(c, request, sizeof request, -1);
            if (n == kRequestBytes)
                break;
            if (n <= 0) {
                std::printf("request connection from %s closed without a request\n", peer);
                tcpClose(c);
                c = kNoSocket;
                break;
            }
        }
        if (c == kNoSocket)
            continue;
        tcpClose(c);
        tcpClose(listener);
        if (!readRequestAddress(request, address))
            address[0] = '\0';
        std::printf("request peer=%s address=%s\n", peer, address);
        std::fflush(stdout);
        return true;
    }
}

void report(const Options& o, const char* address) {
    uint32_t target = 0;
    TcpSocket s = parseInetAddr(address, &target) ? tcpConnect(target, kGaugelinePort, 5000) : kNoSocket;
    if (s == kNoSocket) {
        std::printf("connect failed address=%s\n", address);
        std::fflush(stdout);
        return;
    }
    char label[16];
    if (!o.label.empty())
        std::snprintf(label, sizeof label, "%s", o.label.c_str());
    else if (!tcpLocalAddress(s, label))
        std::snprintf(label, sizeof label, "0.0.0.0");
    std::printf("report connected address=%s label=%s\n", address, label);
    std::fflush(stdout);
    int sent = 0;
    for (uint32_t tick = 0; o.blocks == 0 || sent < o.blocks; ++tick) {
        bool bad = !o.badKind.empty() || static_cast<int>(tick) < o.badFirst;
        bool ok = true;
        if (bad) {
            std::string kind = !o.badKind.empty() ? o.badKind : kBadBlockKinds[tick % kBadBlockKindCount];
            BadSend b;
            makeBadBlock(kind, tick, label, &b);
            for (size_t i = 0; i < b.pieces.size() && ok; ++i) {
                if (i)
                    sleepMs(b.pauseMs);
                ok = sendAll(s, b.pieces[i].data(), static_cast<int>(b.pieces[i].size()));
            }
            std::printf("sent bad block kind=%s ok=%d\n", kind.c_str(), ok);
        } else {
            uint8_t block[kReportBlockBytes];
            makeGoodBlock(o.gpus, tick, label, block);
            ok = tcpSendOnce(s, block, sizeof block) == kReportBlockBytes;
        }
        if (!ok) {
            std::printf("send failed after blocks=%d\n", sent);
            std::fflush(stdout);
            break;
        }
        ++sent;
        std::fflush(stdout);
        sleepMs(o.intervalMs);
    }
    std::printf("report ended blocks=%d\n", sent);
    std::fflush(stdout);
    tcpClose(s);
}

} // namespace

int main(int argc, char** argv) {
    std::signal(SIGPIPE, SIG_IGN);
    setvbuf(stdout, nullptr, _IOLBF, 0);
    Options o;
    if (!parse(argc, argv, &o))
        return 2;
    netStartup();
    for (int round = 0; o.serve == 0 || round < o.serve; ++round) {
        char address[16];
        if (!awaitRequest(o, address))
            return 1;
        report(o, address);
        sleepMs(10);
    }
    return 0;
}
