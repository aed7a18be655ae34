// One implementation over both socket APIs; the differences sit in the shim below.
#include "net/tcp.h"

#include <chrono>
#include <cstring>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
using NativeSocket = SOCKET;
using SockLen = int;
namespace {
constexpr NativeSocket kBad = INVALID_SOCKET;
constexpr int kSendFlags = 0;
void closeNative(NativeSocket s) {
    closesocket(s);
}
void setNonBlocking(NativeSocket s, bool on) {
    u_long mode = on ? 1 : 0;
    ioctlsocket(s, FIONBIO, &mode);
}
bool connectInProgress() {
    int e = WSAGetLastError();
    return e == WSAEWOULDBLOCK || e == WSAEINPROGRESS;
}
bool sendWouldBlock() {
    return WSAGetLastError() == WSAEWOULDBLOCK;
}
} // namespace
#else
#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>
using NativeSocket = int;
using SockLen = socklen_t;
namespace {
constexpr NativeSocket kBad = -1;
// A peer gone away is a failed send, not a SIGPIPE.
constexpr int kSendFlags = MSG_NOSIGNAL;
void closeNative(NativeSocket s) {
    close(s);
}
void setNonBlocking(NativeSocket s, bool on) {
    int flags = fcntl(s, F_GETFL, 0);
    fcntl(s, F_SETFL, on ? flags | O_NONBLOCK : flags & ~O_NONBLOCK);
}
bool connectInProgress() {
    return errno == EINPROGRESS;
}
bool sendWouldBlock() {
    return errno == EAGAIN || errno == EWOULDBLOCK;
}
} // namespace
#endif

namespace {
NativeSocket native(TcpSocket s) {
    return static_cast<NativeSocket>(s);
}
TcpSocket wrap(NativeSocket s) {
    return s == kBad ? kNoSocket : static_cast<TcpSocket>(s);
}

// 1 ready, 0 time-out, -1 error. timeoutMs -1 waits for ever.
int waitReady(NativeSocket s, bool forWrite, int timeoutMs) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    // Winsock reports a failed connect in the exception set only; without it
    // a refused connect would be seen at the time-out.
    fd_set failed;
    FD_ZERO(&failed);
    FD_SET(s, &failed);
    timeval tv{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    int rc = select(static_cast<int>(s) + 1, forWrite ? nullptr : &set, forWrite ? &set : nullptr,
                    forWrite ? &failed : nullptr, timeoutMs < 0 ? nullptr : &tv);
    return rc > 0 ? 1 : rc;
}

// waitReady for a connect in progress, looking at *stop between short steps.
int waitConnected(NativeSocket s, int timeoutMs, const std::atomic<bool>* stop) {
    if (!stop)
        return waitReady(s, true, timeoutMs);
    constexpr int kStepMs = 250;
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now())
                .count();
        if (left <= 0 || stop->load(std::memory_order_relaxed))
            return 0;
        int ready = waitReady(s, true, left < kStepMs ? static_cast<int>(left) : kStepMs);
        if (ready != 0)
            return ready;
    }
}

sockaddr_in makeAddress(uint32_t networkOrder, uint16_t port) {
    sockaddr_in a;
    std::memset(&a, 0, sizeof a);
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = networkOrder;
    return a;
}
} // namespace

bool netStartup() {
#ifdef _WIN32
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 0), &data) == 0;
#else
    return true;
#endif
}

void netCleanup() {
#ifdef _WIN32
    WSACleanup();
#endif
}

TcpSocket tcpListen(const char* bindAddress, uint16_t port, int backlog) {
    uint32_t address;
    if (!parseInetAddr(bindAddress, &address))
        return kNoSocket;
    NativeSocket s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == kBad)
        return kNoSocket;
#ifndef _WIN32
    // A restarted program must be able to listen again at once; Winsock's
    // SO_REUSEADDR means something else (port stealing), so only here.
    int one = 1;
    setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
#endif
    sockaddr_in a = makeAddress(address, port);
    if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(s, backlog) != 0) {
        closeNative(s);
        return kNoSocket;
    }
    return wrap(s);
}

TcpSocket tcpAccept(TcpSocket listener, int timeoutMs, char peerAddress[16], bool* timedOut) {
    if (timedOut)
        *timedOut = false;
    if (listener == kNoSocket)
        return kNoSocket;
    int ready = waitReady(native(listener), false, timeoutMs);
    if (ready <= 0) {
        if (timedOut)
            *timedOut = ready == 0;
        return kNoSocket;
    }
    sockaddr_in peer;
    SockLen len = sizeof peer;
    NativeSocket s = accept(native(listener), reinterpret_cast<sockaddr*>(&peer), &len);
    if (s == kBad)
        return kNoSocket;
    if (peerAddress)
        formatInetAddr(peer.sin_addr.s_addr, peerAddress);
    return wrap(s);
}

TcpSocket tcpConnect(uint32_t addressNetworkOrder, uint16_t port, int timeoutMs) {
    return tcpConnectFrom(0, addressNetworkOrder, port, timeoutMs);
}

TcpSocket tcpConnectFrom(uint32_t localNetworkOrder, uint32_t addressNetworkOrder, uint16_t port,
                         int timeoutMs, const std::atomic<bool>* stop) {
    NativeSocket s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == kBad)
        return kNoSocket;
    if (localNetworkOrder != 0) {
        sockaddr_in local = makeAddress(localNetworkOrder, 0);
        if (bind(s, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
            closeNative(s);
            return kNoSocket;
        }
    }
    sockaddr_in a = makeAddress(addressNetworkOrder, port);
    if (timeoutMs < 0) {
        if (connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
            closeNative(s);
            return kNoSocket;
        }
        return wrap(s);
    }
    setNonBlocking(s, true);
    if (connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        if (!connectInProgress() || waitConnected(s, timeoutMs, stop) != 1) {
            closeNative(s);
            return kNoSocket;
        }
        int error = 0;
        SockLen len = sizeof error;
        getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &len);
        if (error != 0) {
            closeNative(s);
            return kNoSocket;
        }
    }
    setNonBlocking(s, false);
    return wrap(s);
}

int tcpSendOnce(TcpSocket s, const void* data, int size) {
    if (s == kNoSocket)
        return kTcpFailed;
    int n = static_cast<int>(send(native(s), static_cast<const char*>(data), size, kSendFlags));
    return n < 0 ? kTcpFailed : n;
}

int tcpRecvOnce(TcpSocket s, void* data, int size, int timeoutMs) {
    if (s == kNoSocket)
        return kTcpFailed;
    if (timeoutMs >= 0) {
        int ready = waitReady(native(s), false, timeoutMs);
        if (ready == 0)
            return kTcpTimedOut;
        if (ready < 0)
            return kTcpFailed;
    }
    int n = static_cast<int>(recv(native(s), static_cast<char*>(data), size, 0));
    return n < 0 ? kTcpFailed : n;
}

int tcpWaitReadable(const TcpSocket* sockets, int count, int timeoutMs, bool* ready) {
    if (count < 0 || count > kTcpWaitMax)
        return kTcpFailed;
    fd_set set;
    FD_ZERO(&set);
    int highest = -1, watched = 0;
    for (int i = 0; i < count; ++i) {
        ready[i] = false;
        if (sockets[i] == kNoSocket)
            continue;
        FD_SET(native(sockets[i]), &set);
        if (static_cast<int>(native(sockets[i])) > highest)
            highest = static_cast<int>(native(sockets[i]));
        ++watched;
    }
    timeval tv{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    // Winsock refuses a select over no socket at all; waiting is what is meant.
    if (watched == 0) {
        if (timeoutMs < 0)
            return kTcpFailed;
#ifdef _WIN32
        Sleep(static_cast<DWORD>(timeoutMs));
        return 0;
#endif
    }
    int rc = select(highest + 1, &set, nullptr, nullptr, timeoutMs < 0 ? nullptr : &tv);
    if (rc <= 0)
        return rc < 0 ? kTcpFailed : 0;
    int n = 0;
    for (int i = 0; i < count; ++i)
        if (sockets[i] != kNoSocket && FD_ISSET(native(sockets[i]), &set)) {
            ready[i] = true;
            ++n;
        }
    return n;
}

int tcpSendAll(TcpSocket s, const void* data, int size, int timeoutMs) {
    if (s == kNoSocket)
        return kTcpFailed;
    auto* bytes = static_cast<const char*>(data);
    int sent = 0;
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    // Non-blocking while it sends: a blocking send of more than the buffer
    // holds would wait for a reader that may never read.
    setNonBlocking(native(s), true);
    while (sent < size) {
        auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now())
                .count();
        if (left <= 0 || waitReady(native(s), true, static_cast<int>(left)) != 1)
            break;
        int n = static_cast<int>(send(native(s), bytes + sent, size - sent, kSendFlags));
        if (n > 0)
            sent += n;
        else if (n == 0 || !sendWouldBlock())
            break;
    }
    setNonBlocking(native(s), false);
    return sent == size ? size : kTcpFailed;
}

int tcpSendPart(TcpSocket s, const void* data, int size, int timeoutMs) {
    if (s == kNoSocket)
        return kTcpFailed;
    int ready = waitReady(native(s), true, timeoutMs);
    if (ready <= 0)
        return ready == 0 ? 0 : kTcpFailed;
    setNonBlocking(native(s), true);
    int n = static_cast<int>(send(native(s), static_cast<const char*>(data), size, kSendFlags));
    bool wouldBlock = n < 0 && sendWouldBlock();
    setNonBlocking(native(s), false);
    if (wouldBlock)
        return 0;
    return n <= 0 ? kTcpFailed : n;
}

bool tcpSetSendBuffer(TcpSocket s, int bytes) {
    return s != kNoSocket && setsockopt(native(s), SOL_SOCKET, SO_SNDBUF,
                                        reinterpret_cast<const char*>(&bytes), sizeof bytes) == 0;
}

bool tcpLocalAddress(TcpSocket s, char out[16]) {
    sockaddr_in a;
    SockLen len = sizeof a;
    if (s == kNoSocket || getsockname(native(s), reinterpret_cast<sockaddr*>(&a), &len) != 0)
        return false;
    formatInetAddr(a.sin_addr.s_addr, out);
    return true;
}

void tcpShutdownSend(TcpSocket s) {
#ifdef _WIN32
    shutdown(native(s), SD_SEND);
#else
    shutdown(native(s), SHUT_WR);
#endif
}

void tcpClose(TcpSocket s) {
    if (s != kNoSocket)
        closeNative(native(s));
}
