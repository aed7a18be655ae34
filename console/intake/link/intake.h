// Turning report blocks into GpuPanelState, the reset when a connection ends,
// and the receiver thread that serves the Agent's report connection.
#pragma once
#include "console/intake/link/panel_state.h"
#include "net/tcp.h"

#include <atomic>
#include <cstdint>

enum class BlockOutcome {
    Applied,   // every announced GPU part was stored
    NoGpus,    // gpuCount 0 or less: stored, no slot touched
    Truncated, // the block ended before all announced lines; what came is stored
};

// Parses one 4096-byte block into state. Never reads past the block or writes
// past slot 7: gpuCount above 8 is stored as given but only 8 parts are read.
// Extends the title through hooks on the first block of a connection.
BlockOutcome applyReportBlock(GpuPanelState& state, const uint8_t* block, const IntakeWindowCallbacks& hooks);

// Title after a block with this label: the product name plus
// " ===> [Agent: <label>] から接続" when current is exactly the product name;
// otherwise false (leave the title alone).
bool extendedTitle(const wchar_t* current, const char* agentLabel, wchar_t* out, int outChars);

void resetGpuPanelState(GpuPanelState& state, const IntakeWindowCallbacks& hooks);

// The Console's one listening socket on its report port. Only start-up and
// the "接続" button make it (ensureListening); the receiver thread accepts on
// whatever it holds and never binds by itself, so an Agent on the same PC gets
// its port back after serving another Console.
struct ListenerSlot {
    const char* bindAddress = "0.0.0.0";
    uint16_t port = kGaugelinePort;
    std::atomic<TcpSocket> socket{kNoSocket};
};

// Listens when not yet listening; once listening the port is kept. False when
// the port cannot be bound (another program holds it).
bool ensureListening(ListenerSlot& slot);

struct ReceiverConfig {
    ListenerSlot* listener = nullptr;
    // The thread returns once this reads 0 (tests); null runs for ever.
    const std::atomic<int>* keepRunning = nullptr;
};

// Accepts on the listener slot, only agentAddress (exact text), serves one
// connection at a time, drops it on reconnectRequested, resets the state when
// the peer goes away.
void runReceiver(GpuPanelState& state, const IntakeWindowCallbacks& hooks, const ReceiverConfig& config);
