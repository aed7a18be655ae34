// Report blocks and requests that break the wire rules in chosen ways, and a
// few POSIX helpers the native peers share.
#pragma once
#include "net/tcp.h"
#include "protocol/wire.h"

#include <cstdint>
#include <string>
#include <vector>

// Names of the malformed block kinds, in the order --bad-first cycles through.
extern const char* const kBadBlockKinds[];
extern const int kBadBlockKindCount;

// One malformed transmission: the pieces are sent with pauseMs between them.
struct BadSend {
    std::vector<std::vector<uint8_t>> pieces;
    int pauseMs = 0;
};

// False when kind is unknown. seed varies the random kinds.
bool makeBadBlock(const std::string& kind, uint32_t seed, const char* agentLabel, BadSend* out);

// A good block of the example rig (see exampleSample), tick moves the load.
void makeGoodBlock(int gpuCount, uint32_t tick, const char* agentLabel, uint8_t out[kReportBlockBytes]);

// Connects from a chosen local address (empty: any) to address:port.
TcpSocket connectFrom(const char* localAddress, const char* address, uint16_t port, int timeoutMs);
// Sends every byte (several send calls when needed). False on failure.
bool sendAll(TcpSocket s, const void* data, int size);
// Receives exactly size bytes unless the peer closes, an error or the time-out
// (per receive) comes first; returns bytes received, *recvCalls the calls used.
int recvExactly(TcpSocket s, uint8_t* data, int size, int timeoutMs, int* recvCalls);
int64_t nowMs();
void sleepMs(int ms);
