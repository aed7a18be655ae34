// A stand-in for the Console on a Linux test host: listens on 58680, sends an
// Agent the 20-byte request, accepts the Agent's report connection and checks
// every block byte for byte, printing what it parsed.
#include "protocol/report_block.h"
#include "tests/peers/bad_blocks.h"
#include "tests/peers/block_check.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Options {
    std::string agent;
    std::string self; // empty: the local address of the request connection
    int blocks = 5;
    int timeoutS = 30;
    bool secondConnection = true;
    bool dump = false;
    bool dumpEach = false; // every valid block, each after its arrival time
    uint16_t agentPort = kGaugelinePort;
    uint16_t listenPort = kGaugelinePort;
    int expectGpus = 0;
    std::string expectLabel;
    int holdS = 0;          // keep the report connection open this long after the blocks
    bool noRequest = false; // only listen (the Agent was asked by someone else)
};

void usage() {
    std::fprintf(stderr, "usage: gl-fake-console --agent ADDR [--self ADDR] [--blocks N] [--timeout-s S]\n"
                         "       [--no-second] [--dump] [--expect-gpus N] [--expect-label L] [--hold-s S]\n"
                         "       [--no-request] [--dump-each] [--agent-port P] [--listen-port P]\n");
}

bool parse(int argc, char** argv, Options* o) {
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--no-second") {
            o->secondConnection = false;
            continue;
        }
        if (a == "--dump") {
            o->dump = true;
            continue;
        }
        if (a == "--no-request") {
            o->noRequest = true;
            continue;
        }
        if (a == "--dump-each") {
            o->dumpEach = true;
            continue;
        }
        if (i + 1 >= argc) {
            usage();
            return false;
        }
        const char* v = argv[++i];
        if (a == "--agent")
            o->agent = v;
        else if (a == "--self")
            o->self = v;
        else if (a == "--blocks")
            o->blocks = std::atoi(v);
        else if (a == "--timeout-s")
            o->timeoutS = std::atoi(v);
        else if (a == "--expect-gpus")
            o->expectGpus = std::atoi(v);
        else if (a == "--expect-label")
            o->expectLabel = v;
        else if (a == "--hold-s")
            o->holdS = std::atoi(v);
        else if (a == "--agent-port")
            o->agentPort = static_cast<uint16_t>(std::atoi(v));
        else if (a == "--listen-port")
            o->listenPort = static_cast<uint16_t>(std::atoi(v));
        else {
            usage();
            return false;
        }
    }
    if (o->agent.empty()) {
        usage();
        return false;
    }
    return true;
}

// The request as the Console sends it: a first connection that carries the
// 20 bytes after a second, empty connection to the same port was made.
bool sendRequest(const Options& o) {
    uint32_t target = 0;
    if (!parseInetAddr(o.agent.c_str(), &target)) {
        std::printf("request failed: bad agent address\n");
        return false;
    }
    TcpSocket first = tcpConnect(target, o.agentPort, 2000);
    if (first == kNoSocket) {
        std::printf("request failed: no connection\n");
        return false;
    }
    TcpSocket second = kNoSocket;
    if (o.secondConnection) {
        second = tcpConnect(target, o.agentPort, 2000);
        if (second == kNoSocket)
            std::printf("note: second connection refused\n");
    }
    char self[16];
    if (!o.self.empty())
        std::snprintf(self, sizeof self, "%s", o.self.c_str());
    else if (!tcpLocalAddress(first, self)) {
        tcpClose(first);
        return false;
    }
    uint8_t request[kRequestBytes];
    writeRequest(self, request);
    sleepMs(1000);
    bool ok = tcpSendOnce(first, request, sizeof request) == kRequestBytes;
    if (second != kNoSocket)
        tcpClose(second);
    tcpClose(first);
    std::printf("request sent=%d self=%s\n", ok, self);
    return ok;
}

long long unixMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

void dumpBlock(const CheckedBlock& b) {
    std::printf("agentLabel=%s\ngpuCount=%d\ntextBytes=%d\n", b.agentLabel.c_str(), b.gpuCount, b.textBytes);
    for (int g = 0; g < b.gpuCount; ++g) {
        std::printf("gpu%d.fullName=%s\ngpu%d.tabLabel=%s\n", g, b.gpus[g].fullName.c_str(), g,
                    b.gpus[g].tabLabel.c_str());
        for (int k = 0; k < kSampleFieldCount; ++k)
            std::printf("gpu%d.%s=%d\n", g, kSampleFields[k].name,
                        kSampleFields[k].kind == WireKind::Signed ? static_cast<int>(b.gpus[g].fields[k])
                                                                  : static_cast<int>(b.gpus[g].fields[k]));
    }
}

} // namespace

int main(int argc, char** argv) {
    std::signal(SIGPIPE, SIG_IGN);
    setvbuf(stdout, nullptr, _IOLBF, 0);
    Options o;
    if (!parse(argc, argv, &o))
        return 2;
    netStartup();
    TcpSocket listener = tcpListen("0.0.0.0", o.listenPort, 1);
    if (listener == kNoSocket) {
        std::printf("listen failed\n");
        return 1;
    }
    int64_t start = nowMs();
    if (!o.noRequest && !sendRequest(o))
        return 1;
    int64_t requestDone = nowMs();
    int64_t deadline = start + o.timeoutS * 1000LL;

    TcpSocket c = kNoSocket;
    while (c == kNoSocket) {
        int left = static_cast<int>(deadline - nowMs());
        if (left <= 0) {
            std::printf("no report connection within %d s\n", o.timeoutS);
            return 1;
        }
        char peer[16];
        c = tcpAccept(listener, left, peer);
        if (c != kNoSocket && o.agent != peer) {
            std::printf("refused peer=%s\n", peer);
            tcpClose(c);
            c = kNoSocket;
        } else if (c != kNoSocket) {
            std::printf("accepted peer=%s after_request_ms=%lld\n", peer,
                        static_cast<long long>(nowMs() - requestDone));
        }
    }

    int valid = 0, invalid = 0, split = 0;
    std::vector<int64_t> arrivals;
    uint8_t block[kReportBlockBytes];
    CheckedBlock first;
    bool ended = false;
    while (valid + invalid < o.blocks) {
        int left = static_cast<int>(deadline - nowMs());
        if (left <= 0) {
            std::printf("time-out after blocks=%d\n", valid + invalid);
            break;
        }
        int calls = 0;
        int n = recvExactly(c, block, sizeof block, left, &calls);
        if (n < kReportBlockBytes) {
            std::printf("connection ended bytes=%d after blocks=%d\n", n, valid + invalid);
            ended = true;
            break;
        }
        arrivals.push_back(nowMs());
        if (calls > 1)
            ++split;
        CheckedBlock b;
        std::string error;
        if (!checkReportBlock(block, &b, &error)) {
            ++invalid;
            std::printf("block %d INVALID: %s\n", valid + invalid, error.c_str());
            continue;
        }
        if (o.expectGpus && b.gpuCount != o.expectGpus) {
            ++invalid;
            std::printf("block %d INVALID: gpuCount %d, expected %d\n", valid + invalid, b.gpuCount,
                        o.expectGpus);
            continue;
        }
        if (!o.expectLabel.empty() && b.agentLabel != o.expectLabel) {
            ++invalid;
            std::printf("block %d INVALID: agentLabel %s, expected %s\n", valid + invalid,
                        b.agentLabel.c_str(), o.expectLabel.c_str());
            continue;
        }
        if (valid == 0)
            first = b;
        ++valid;
        std::printf("block %d ok label=%s gpus=%d textBytes=%d recvs=%d\n", valid + invalid,
                    b.agentLabel.c_str(), b.gpuCount, b.textBytes, calls);
        if (o.dumpEach) {
            std::printf("arrival_unix_ms=%lld\n", static_cast<long long>(unixMs()));
            dumpBlock(b);
        }
    }
    if (valid > 0 && o.dump)
        dumpBlock(first);
    std::vector<int64_t> gaps;
    for (size_t i = 1; i < arrivals.size(); ++i)
        gaps.push_back(arrivals[i] - arrivals[i - 1]);
    std::sort(gaps.begin(), gaps.end());
    std::printf("summary blocks=%d valid=%d invalid=%d split=%d median_interval_ms=%lld\n", valid + invalid,
                valid, invalid, split, gaps.empty() ? -1LL : static_cast<long long>(gaps[gaps.size() / 2]));
    if (!ended && o.holdS > 0)
        sleepMs(o.holdS * 1000);
    tcpClose(c);
    tcpClose(listener);
    return valid == o.blocks && invalid == 0 ? 0 : 1;
}
