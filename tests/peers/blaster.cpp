// Throws bad input at a program's port 58680: random bytes, partial and
// oversized requests, requests naming unusable addresses, floods of
// connections (optionally from a chosen local address) and malformed report
// blocks. It checks nothing itself; the tests look at the target afterwards.
#include "protocol/report_block.h"
#include "tests/peers/bad_blocks.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

struct Options {
    std::string target;
    std::string from;
    std::string mode;
    std::string name = "192.0.2.99";
    int count = 20;
    int connectMs = 3000;
    uint16_t port = kGaugelinePort;
};

void usage() {
    std::fprintf(
        stderr,
        "usage: gl-blaster --target ADDR --mode random|partial|oversized|bad-address|connect|flood|blocks\n"
        "                  [--count N] [--from ADDR] [--name ADDR] [--port P] [--connect-ms MS]\n");
}

struct Tally {
    int connected = 0, refused = 0, sendFailed = 0;
};

TcpSocket open(const Options& o, Tally& t) {
    TcpSocket s = connectFrom(o.from.c_str(), o.target.c_str(), o.port, o.connectMs);
    if (s == kNoSocket)
        ++t.refused;
    else
        ++t.connected;
    return s;
}

void sendAndClose(const Options& o, Tally& t, const std::vector<uint8_t>& bytes, int lingerMs = 50) {
    TcpSocket s = open(o, t);
    if (s == kNoSocket)
        return;
    if (!bytes.empty() && !sendAll(s, bytes.data(), static_cast<int>(bytes.size())))
        ++t.sendFailed;
    sleepMs(lingerMs);
    tcpClose(s);
}

// A non-blocking connect under way (-1 when it failed at once).
int startConnect(const Options& o) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return -1;
    if (!o.from.empty()) {
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = inet_addr(o.from.c_str());
        if (bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
            close(fd);
            return -1;
        }
    }
    sockaddr_in remote{};
    remote.sin_family = AF_INET;
    remote.sin_port = htons(o.port);
    remote.sin_addr.s_addr = inet_addr(o.target.c_str());
    if (connect(fd, reinterpret_cast<sockaddr*>(&remote), sizeof remote) != 0 && errno != EINPROGRESS) {
        close(fd);
        return -1;
    }
    return fd;
}

std::vector<uint8_t> requestNaming(const std::string& text) {
    std::vector<uint8_t> r(kRequestBytes, 0);
    std::memcpy(r.data(), text.data(), std::min<size_t>(text.size(), kRequestBytes));
    return r;
}

} // namespace

int main(int argc, char** argv) {
    std::signal(SIGPIPE, SIG_IGN);
    setvbuf(stdout, nullptr, _IOLBF, 0);
    Options o;
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string a = argv[i];
        const char* v = argv[i + 1];
        if (a == "--target")
            o.target = v;
        else if (a == "--from")
            o.from = v;
        else if (a == "--mode")
            o.mode = v;
        else if (a == "--count")
            o.count = std::atoi(v);
        else if (a == "--name")
            o.name = v;
        else if (a == "--port")
            o.port = static_cast<uint16_t>(std::atoi(v));
        else if (a == "--connect-ms")
            o.connectMs = std::atoi(v);
        else {
            usage();
            return 2;
        }
    }
    if (o.target.empty() || o.mode.empty() || argc % 2 == 0) {
        usage();
        return 2;
    }
    netStartup();
    Tally t;
    std::mt19937 rng(12345);
    if (o.mode == "random") {
        for (int i = 0; i < o.count; ++i) {
            std::vector<uint8_t> b(1 + rng() % 8192);
            for (auto& c : b)
                c = static_cast<uint8_t>(rng());
            sendAndClose(o, t, b);
        }
    } else if (o.mode == "partial") {
        for (int i = 0; i < o.count; ++i) {
            std::vector<uint8_t> r = requestNaming(o.from.empty() ? "192.0.2.5" : o.from);
            r.resize(1 + i % 19);
            sendAndClose(o, t, r);
        }
        // 10 + 10 bytes: two receives, never taken as a request
        TcpSocket s = open(o, t);
        if (s != kNoSocket) {
            std::vector<uint8_t> r = requestNaming("192.0.2.5");
            if (!sendAll(s, r.data(), 10))
                ++t.sendFailed;
            sleepMs(300);
            if (!sendAll(s, r.data() + 10, 10))
                ++t.sendFailed;
            sleepMs(300);
            tcpClose(s);
        }
    } else if (o.mode == "oversized") {
        for (int i = 0; i < o.count; ++i)
            sendAndClose(o, t, std::vector<uint8_t>(i % 2 ? 65536 : kReportBlockBytes, '9'), 200);
    } else if (o.mode == "bad-address") {
        const std::string names[] = {o.name,      "999.1.2.3",       "abc",    "",
                                     "1.2.3.4.5", "255.255.255.255", "0.0.0.0"};
        for (const std::string& n : names) {
            sendAndClose(o, t, requestNaming(n), 200);
            std::printf("sent request naming [%s]\n", n.c_str());
        }
    } else if (o.mode == "connect") {
        // One after the other: each is accepted and closed by the target.
        for (int i = 0; i < o.count; ++i) {
            TcpSocket s = open(o, t);
            if (s != kNoSocket)
                tcpClose(s);
        }
    } else if (o.mode == "flood") {
        // Batches of 50 connection attempts at once, each closed after the
        // batch's wait: a listener with a backlog of 1 sees a storm of
        // connections and dropped handshakes rather than a polite queue.
        for (int done = 0; done < o.count;) {
            int batch = std::min(50, o.count - done);
            std::vector<int> fds;
            for (int i = 0; i < batch; ++i)
                fds.push_back(startConnect(o));
            sleepMs(o.connectMs);
            for (int fd : fds) {
                if (fd < 0) {
                    ++t.refused;
                    continue;
                }
                int err = 0;
                socklen_t len = sizeof err;
                bool up = getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) == 0 && err == 0 &&
                          send(fd, "", 0, MSG_NOSIGNAL) == 0;
                up ? ++t.connected : ++t.refused;
                close(fd);
            }
            done += batch;
        }
    } else if (o.mode == "blocks") {
        for (int k = 0; k < kBadBlockKindCount; ++k) {
            TcpSocket s = open(o, t);
            if (s == kNoSocket)
                continue;
            BadSend b;
            makeBadBlock(kBadBlockKinds[k], static_cast<uint32_t>(k),
                         o.from.empty() ? "192.0.2.20" : o.from.c_str(), &b);
            for (size_t i = 0; i < b.pieces.size(); ++i) {
                if (i)
                    sleepMs(b.pauseMs);
                if (!sendAll(s, b.pieces[i].data(), static_cast<int>(b.pieces[i].size())))
                    ++t.sendFailed;
            }
            sleepMs(100);
            tcpClose(s);
        }
    } else {
        usage();
        return 2;
    }
    std::printf("blaster mode=%s connected=%d refused=%d send_failed=%d\n", o.mode.c_str(), t.connected,
                t.refused, t.sendFailed);
    return 0;
}
