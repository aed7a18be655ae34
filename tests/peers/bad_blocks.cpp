#include "tests/peers/bad_blocks.h"

#include "protocol/report_block.h"
#include "tests/peers/block_check.h"

#include <arpa/inet.h>
#include <chrono>
#include <cstring>
#include <netinet/in.h>
#include <random>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

const char* const kBadBlockKinds[] = {"short",     "split",    "nolf",    "longline", "count9",
                                      "negcount",  "bigcount", "random",  "zeros",    "truncated",
                                      "oversized", "crlf",     "hugenum", "noterm"};
const int kBadBlockKindCount = sizeof kBadBlockKinds / sizeof kBadBlockKinds[0];

void makeGoodBlock(int gpuCount, uint32_t tick, const char* agentLabel, uint8_t out[kReportBlockBytes]) {
    GpuSample samples[kGpuSlotCount];
    for (int i = 0; i < kGpuSlotCount; ++i) {
        if (i < gpuCount)
            exampleSample(&samples[i], i, gpuCount, tick);
        else
            clearGpuSample(&samples[i]);
    }
    buildReportBlock(samples, gpuCount, agentLabel, out);
}

namespace {
std::vector<uint8_t> textBlock(const std::string& text, size_t size = kReportBlockBytes) {
    std::vector<uint8_t> b(size, 0);
    std::memcpy(b.data(), text.data(), std::min(text.size(), size));
    return b;
}
} // namespace

bool makeBadBlock(const std::string& kind, uint32_t seed, const char* agentLabel, BadSend* out) {
    out->pieces.clear();
    out->pauseMs = 0;
    std::vector<uint8_t> good(kReportBlockBytes);
    makeGoodBlock(2, seed, agentLabel, good.data());
    std::string label = agentLabel;
    std::mt19937 rng(seed);
    if (kind == "short") {
        good.resize(4095);
        out->pieces.push_back(good);
    } else if (kind == "split") {
        out->pieces.push_back(std::vector<uint8_t>(good.begin(), good.begin() + 2000));
        out->pieces.push_back(std::vector<uint8_t>(good.begin() + 2000, good.end()));
        out->pauseMs = 300;
    } else if (kind == "nolf") {
        out->pieces.push_back(std::vector<uint8_t>(kReportBlockBytes, 'A'));
    } else if (kind == "longline") {
        std::string t = label + "\n2\n";
        while (t.size() < 4000)
            t += std::string(300, '7') + "\n";
        out->pieces.push_back(textBlock(t));
    } else if (kind == "count9" || kind == "negcount" || kind == "bigcount") {
        const char* count = kind == "count9" ? "9" : kind == "negcount" ? "-3" : "99999999999";
        std::string t(reinterpret_cast<char*>(good.data()));
        size_t lf = t.find('\n');
        size_t lf2 = t.find('\n', lf + 1);
        t = t.substr(0, lf + 1) + count + t.substr(lf2);
        out->pieces.push_back(textBlock(t));
    } else if (kind == "random") {
        std::vector<uint8_t> b(kReportBlockBytes);
        for (auto& c : b)
            c = static_cast<uint8_t>(rng());
        out->pieces.push_back(b);
    } else if (kind == "zeros") {
        out->pieces.push_back(std::vector<uint8_t>(kReportBlockBytes, 0));
    } else if (kind == "truncated") {
        std::string t = label + "\n8\nExample GPU\nExample GPU(1)\n1\n1\n";
        out->pieces.push_back(textBlock(t));
    } else if (kind == "oversized") {
        std::vector<uint8_t> b(8192, '5');
        out->pieces.push_back(b);
    } else if (kind == "crlf") {
        std::string t;
        for (char c : std::string(reinterpret_cast<char*>(good.data())))
            t += c == '\n' ? std::string("\r\n") : std::string(1, c);
        out->pieces.push_back(textBlock(t));
    } else if (kind == "hugenum") {
        std::string t = label + "\n1\nExample GPU\nExample GPU (DP)\n";
        for (int k = 0; k < kSampleFieldCount; ++k)
            t += k % 2 ? "-99999999999999999999\n" : "99999999999999999999\n";
        out->pieces.push_back(textBlock(t));
    } else if (kind == "noterm") {
        // every line just under and over the 100-byte line buffer
        std::string t = label + "\n2\n";
        for (int i = 0; t.size() < kReportBlockBytes; ++i)
            t += std::string(i % 2 ? 99 : 100, 'x') + "\n";
        out->pieces.push_back(textBlock(t));
    } else {
        return false;
    }
    return true;
}

TcpSocket connectFrom(const char* localAddress, const char* address, uint16_t port, int timeoutMs) {
    uint32_t target = 0;
    if (!parseInetAddr(address, &target))
        return kNoSocket;
    if (!localAddress || !*localAddress)
        return tcpConnect(target, port, timeoutMs);
    int s = socket(AF_INET, SOCK_STREAM, 0);
    if (s < 0)
        return kNoSocket;
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = inet_addr(localAddress);
    sockaddr_in remote{};
    remote.sin_family = AF_INET;
    remote.sin_port = htons(port);
    remote.sin_addr.s_addr = target;
    timeval tv{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    if (bind(s, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
        connect(s, reinterpret_cast<sockaddr*>(&remote), sizeof remote) != 0) {
        close(s);
        return kNoSocket;
    }
    return s;
}

bool sendAll(TcpSocket s, const void* data, int size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        int n = tcpSendOnce(s, p, size);
        if (n <= 0)
            return false;
        p += n;
        size -= n;
    }
    return true;
}

int recvExactly(TcpSocket s, uint8_t* data, int size, int timeoutMs, int* recvCalls) {
    int got = 0;
    *recvCalls = 0;
    while (got < size) {
        int n = tcpRecvOnce(s, data + got, size - got, timeoutMs);
        ++*recvCalls;
        if (n <= 0)
            break;
        got += n;
    }
    return got;
}

int64_t nowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void sleepMs(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}
