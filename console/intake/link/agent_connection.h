// Asking an Agent to connect to this Console: choosing the Console's own
// address, the 20-byte request over a short-lived connection, and the steps
// the "接続" button of the IP input dialog runs.
#pragma once
#include "console/intake/link/panel_state.h"
#include "protocol/gpu_sample.h"

#include <cstdint>

// One row of the machine's IPv4 address table.
struct AddressRow {
    uint32_t address = 0; // network byte order
    uint32_t typeFlags = 0;
};

// Primary (1) together with dynamic (4): an address obtained from DHCP.
constexpr uint32_t kPrimaryDhcpFlags = 5;
constexpr int kBoxChars = 3;

// Index of the first row whose flags are exactly 5, or -1.
int chooseLocalAddressRow(const AddressRow* rows, int count);
// Dotted text of that row; false when no row qualifies.
bool localAddressFromRows(const AddressRow* rows, int count, char out[16]);

// "a.b.c.d" from the four boxes as typed (each cut to 3 characters, nothing
// validated, empty boxes give empty parts).
void joinAgentAddress(const char* const boxes[4], char out[kAddressTextMax + 1]);

enum class AgentRequestResult {
    Sent,          // all 20 bytes went out
    BadAddress,    // the Agent address cannot be read as an IPv4 address
    NoAnswer,      // the first connection was not made within the wait
    SecondRefused, // the second connection could not be made
    NoLocalAddress,
    ShortSend,
};

struct AgentRequestConfig {
    uint16_t port = kGaugelinePort;
    int connectWaitMs = 2000;
    int sendDelayMs = 1000;
};

// The dialog's side of "接続"; a null entry reads empty boxes, finds no
// address, sleeps.
struct ConnectCallbacks {
    void* context = nullptr;
    // Reads the four boxes (at most 3 characters each); called after the pause.
    void (*readBoxes)(void* context, char boxes[4][kBoxChars + 2]) = nullptr;
    // The machine's own DHCP address; false when there is none.
    bool (*findLocalAddress)(void* context, char out[16]) = nullptr;
    // Waits the given milliseconds.
    void (*pause)(void* context, int milliseconds) = nullptr;
};

// Connects to agentAddress:port (waiting at most connectWaitMs), makes a
// second, blocking connection to the same place, pauses sendDelayMs and sends
// the request over the first. The request carries localAddress; when that is
// null or empty it carries the first connection's own local address, the one
// the Agent can reach. Both connections are closed before returning.
AgentRequestResult sendAgentRequest(const char* agentAddress, const char* localAddress,
                                    const AgentRequestConfig& config, const ConnectCallbacks& callbacks);

struct ListenerSlot;

struct ConnectConfig {
    // The Console's listener; "接続" listens first when it does not yet.
    ListenerSlot* listener = nullptr;
    // Time for the receiver to drop the connection it serves.
    int dropWaitMs = 2000;
    AgentRequestConfig request;
};

enum class ConnectOutcome {
    Requested,    // the request went out
    Failed,       // no request delivered: address forgotten, readings reset
    CannotListen, // the Console cannot listen: nothing sent, nothing changed
};

// What the "接続" button does, in order: make sure the Console listens (when
// it cannot, stop here), raise reconnectRequested, pause, read the boxes into
// agentAddress, lower the flag, find the local address, send the request.
// Success sets the title to the product name; failure empties agentAddress
// and resets the panel state.
ConnectOutcome connectToAgent(GpuPanelState& state, const IntakeWindowCallbacks& window,
                              const ConnectConfig& config, const ConnectCallbacks& callbacks);
