// The reporting thread: waits for a Console's 20-byte request, connects back
// to the address it names and sends one report block per period until a send
// fails, then waits again.
#pragma once
#include "agent/agent_state.h"
#include "protocol/gpu_sample.h"

#include <atomic>
#include <cstdint>

struct ReporterConfig {
    const char* bindAddress = "0.0.0.0";
    uint16_t listenPort = kGaugelinePort;
    uint16_t reportPort = kGaugelinePort;
    // How long one accepted connection may take to deliver its request before
    // it is dropped and the next one is accepted.
    int requestWaitMs = 10000;
    int connectTimeoutMs = 5000;
    int reportPeriodMs = 1000;
    int bindRetryMs = 1000;
    int restartPauseMs = 10;
    // Called whenever reportConnected changes (the window repaints its link).
    void (*invalidate)(void* context) = nullptr;
    void* invalidateContext = nullptr;
    // The machine's own IPv4 address as dotted text; the default asks the
    // host name. False when it has none, and the report connection's local
    // address is used instead.
    bool (*ownAddress)(char out[16]) = nullptr;
    // Tests end the thread through this; the program never sets it.
    const std::atomic<bool>* stop = nullptr;
};

// Waits for one request that arrives as 20 bytes in one receive and copies it
// to out. Listens only while it waits. False only when told to stop.
bool awaitRequest(const ReporterConfig& config, uint8_t out[kRequestBytes]);

// One report connection to the address named in the request: connect, send
// blocks while sends succeed. Keeps state.reportConnected and calls the hook.
void serveRequest(AgentState& state, const ReporterConfig& config, const uint8_t request[kRequestBytes]);

// The thread body: awaitRequest and serveRequest for ever (until stop is set).
void runReporter(AgentState& state, const ReporterConfig& config);

// The machine's IPv4 addresses from its host name, in resolver order (at most
// max); returns how many.
int hostIpv4Addresses(uint32_t* networkOrder, int max);
// The last of them as dotted text; false when there is none.
bool hostAddressLabel(char out[16]);
