// A thin TCP-over-IPv4 layer: Winsock on Windows, POSIX sockets elsewhere.
// Every call reports failure by its return value; nothing throws or prints.
#pragma once
#include <atomic>
#include <cstdint>

using TcpSocket = intptr_t;
constexpr TcpSocket kNoSocket = -1;

// Windows Sockets start-up and clean-up (reference counted by the platform);
// no-ops elsewhere.
bool netStartup();
void netCleanup();

// Reads an address by the rules of inet_addr: one to four parts joined by
// points, each decimal, octal (leading 0) or hex (0x). False when the text is
// not such an address. The result is in network byte order.
bool parseInetAddr(const char* text, uint32_t* networkOrder);
// Dotted decimal text of a network-order address (at least 16 bytes).
void formatInetAddr(uint32_t networkOrder, char out[16]);

// Listening socket bound to bindAddress (dotted text) and port.
TcpSocket tcpListen(const char* bindAddress, uint16_t port, int backlog);
// Waits up to timeoutMs (-1: for ever) for a connection. kNoSocket on time-out
// or error; *timedOut tells which when given. peerAddress gets the peer's dotted text.
TcpSocket tcpAccept(TcpSocket listener, int timeoutMs, char peerAddress[16], bool* timedOut = nullptr);
// Connects to address:port. timeoutMs -1 blocks with the platform's time-out.
TcpSocket tcpConnect(uint32_t addressNetworkOrder, uint16_t port, int timeoutMs);
// The same from the given local address (0: the system chooses); fails when
// that address cannot be bound. With stop, a wait with a time-out also ends
// (and fails) soon after *stop becomes true.
TcpSocket tcpConnectFrom(uint32_t localNetworkOrder, uint32_t addressNetworkOrder, uint16_t port,
                         int timeoutMs, const std::atomic<bool>* stop = nullptr);
// What the calls below return in place of a count.
constexpr int kTcpFailed = -1;   // an error, or no socket
constexpr int kTcpTimedOut = -2; // tcpRecvOnce only: nothing came in the time

// One send call; returns bytes sent or kTcpFailed.
int tcpSendOnce(TcpSocket s, const void* data, int size);
// One receive call; returns bytes (0 when the peer closed), kTcpFailed or
// kTcpTimedOut (timeoutMs -1 waits for ever).
int tcpRecvOnce(TcpSocket s, void* data, int size, int timeoutMs);
// Waits up to timeoutMs (-1: for ever) until at least one of the sockets has
// something to read (for a listener: a connection to accept). Sets ready[i]
// for each such socket; returns how many, 0 on time-out, kTcpFailed. At most
// kTcpWaitMax sockets; kNoSocket entries are skipped.
constexpr int kTcpWaitMax = 48;
int tcpWaitReadable(const TcpSocket* sockets, int count, int timeoutMs, bool* ready);
// Sends all of size bytes, waiting at most timeoutMs in all for the peer to
// take them. Returns size, or kTcpFailed on error or when the time ran out.
int tcpSendAll(TcpSocket s, const void* data, int size, int timeoutMs);
// Waits up to timeoutMs for room to send, then sends what fits of size
// bytes without blocking. Returns bytes sent, 0 when no room came, kTcpFailed.
int tcpSendPart(TcpSocket s, const void* data, int size, int timeoutMs);
// Limits what the system keeps unsent for a socket to about bytes.
bool tcpSetSendBuffer(TcpSocket s, int bytes);
// Dotted text of the local address of a connected socket.
bool tcpLocalAddress(TcpSocket s, char out[16]);
// Ends the sending side: the peer reads an orderly end after the data sent.
// Receiving goes on until the socket is closed.
void tcpShutdownSend(TcpSocket s);
void tcpClose(TcpSocket s);
