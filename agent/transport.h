// The reporting thread: waits for a Console's 20-byte request, connects back
// to the address it names and sends one report block per period until a send
// fails, then waits again.
#pragma once
#include "agent/agent_state.h"
#include "agent/allow_list.h"
#include "protocol/gpu_sample.h"

#include <atomic>
#include <cstdint>

// What the reporting thread tells its program: the listener opened, a report
// connection began or could not be made, a report connection was lost.
enum class ReporterEvent { Listening, Reporting, ConnectFailed, ConnectionLost };

struct ReporterConfig {
    const char* bindAddress = "0.0.0.0";
    uint16_t listenPort = kGaugelinePort;
    uint16_t reportPort = kGaugelinePort;
    // How long an accepted connection may stay silent before it is closed.
    // Up to 16 are held and heard together; the first whole request wins.
    int requestWaitMs = 5000;
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
    // The report connection leaves from the local address the request came in
    // on, and that address is the report's label (ownAddress is not asked): a
    // host with several addresses answers from the one the Console typed.
    bool answerFromRequestAddress = false;
    // Called on each ReporterEvent; address is the Console's (dotted) for
    // Reporting and ConnectFailed, null otherwise or when the request named none.
    void (*event)(void* context, ReporterEvent event, const char* address) = nullptr;
    void* eventContext = nullptr;
    // When it holds entries: connections from elsewhere are closed unread,
    // and requests naming an address outside it are ignored.
    const AllowList* allow = nullptr;
    // Ends the thread once set (tests, and a program told to stop).
    const std::atomic<bool>* stop = nullptr;
};

// Waits for one request that arrives as 20 bytes in one receive (on any of
// the connections held) and copies it to out; localAddress (when given) gets the dotted local address of the
// connection it came on. Listens only while it waits. False only when told to stop.
bool awaitRequest(const ReporterConfig& config, uint8_t out[kRequestBytes], char localAddress[16] = nullptr);

// One report connection to the address named in the request: connect, send
// blocks while sends succeed. Keeps state.reportConnected and calls the hooks.
// requestLocalAddress is awaitRequest's localAddress (may be null).
void serveRequest(AgentState& state, const ReporterConfig& config, const uint8_t request[kRequestBytes],
                  const char* requestLocalAddress = nullptr);

// The thread body: awaitRequest and serveRequest for ever (until stop is set).
void runReporter(AgentState& state, const ReporterConfig& config);

// The machine's IPv4 addresses from its host name, in resolver order (at most
// max); returns how many.
int hostIpv4Addresses(uint32_t* networkOrder, int max);
// The last of them as dotted text; false when there is none.
bool hostAddressLabel(char out[16]);
