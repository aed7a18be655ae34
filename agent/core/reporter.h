// The reporting thread: waits for a Console's 20-byte request, connects back
// to the address it names and sends one report block per period until a block
// cannot be handed over (the Console closed, or took nothing for
// blockSendMs), then waits again.
#pragma once
#include "agent/core/agent_state.h"
#include "agent/core/allow_list.h"
#include "net/tcp.h"
#include "protocol/gpu_sample.h"

#include <atomic>
#include <cstdint>

// What the reporting thread tells its program: the listener opened, a report
// connection began or could not be made, a report connection was lost.
enum class ReporterEvent { Listening, Reporting, ConnectFailed, ConnectionLost };

// What the reporting thread asks of and tells its program; any may be null.
struct ReporterCallbacks {
    void* context = nullptr;
    // Called whenever reportConnected changes (the window repaints its link).
    void (*invalidate)(void* context) = nullptr;
    // Called on each ReporterEvent; address is the Console's (dotted) for
    // Reporting and ConnectFailed, null otherwise or when the request named none.
    void (*event)(void* context, ReporterEvent event, const char* address) = nullptr;
    // The machine's own IPv4 address as dotted text; null asks the host name.
    // False when it has none, and the report connection's local address is
    // used instead.
    bool (*ownAddress)(void* context, char out[16]) = nullptr;
};

struct ReporterConfig {
    const char* bindAddress = "0.0.0.0";
    uint16_t listenPort = kGaugelinePort;
    uint16_t reportPort = kGaugelinePort;
    // How long an accepted connection may stay silent before it is closed.
    // Up to 16 are held and heard together (at most 4 from one peer); whole
    // requests are taken oldest connection first.
    int requestWaitMs = 5000;
    int connectTimeoutMs = 5000;
    // How long one whole block may take to be handed over before the Console
    // counts as gone.
    int blockSendMs = 10000;
    int reportPeriodMs = 1000;
    int bindRetryMs = 1000;
    int restartPauseMs = 10;
    // The report connection leaves from the local address the request came in
    // on, and that address is the report's label (ownAddress is not asked): a
    // host with several addresses answers from the one the Console typed.
    bool answerFromRequestAddress = false;
    ReporterCallbacks callbacks;
    // When it holds entries: connections from elsewhere are closed unread,
    // and requests naming an address outside it are ignored.
    const AllowList* allow = nullptr;
    // Ends the thread once set (tests, and a program told to stop).
    const std::atomic<bool>* stop = nullptr;
};

// A report connection made in answer to a request.
struct ReportConnection {
    TcpSocket socket = kNoSocket;
    // The Console's address, dotted.
    char console[16] = {};
    // With answerFromRequestAddress: the local address the request came to
    // (the connection leaves from it); empty otherwise.
    char local[16] = {};
};

// Listens and hears every pending connection until a request (20 bytes in one
// receive) names an address that answers the connect back; the listener and
// the other pending connections stay open while that is tried, and close once
// it succeeds. A failed connect back sets reportConnected to 0 and is told.
// False only when told to stop.
bool awaitReportConnection(AgentState& state, const ReporterConfig& config, ReportConnection* out);

// Sends a block per period over the connection while each whole block is
// handed over within blockSendMs, then closes it. Keeps
// state.reportConnected and calls the callbacks.
void serveReportConnection(AgentState& state, const ReporterConfig& config,
                           const ReportConnection& connection);

// The thread body: awaitReportConnection and serveReportConnection for ever (until stop is set).
void runReporter(AgentState& state, const ReporterConfig& config);

// The machine's IPv4 addresses from its host name, in resolver order (at most
// max); returns how many.
int hostIpv4Addresses(uint32_t* networkOrder, int max);
// The last of them as dotted text; false when there is none.
bool hostAddressLabel(char out[16]);
