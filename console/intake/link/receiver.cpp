// The receiver thread: accepts the report connection of the typed Agent
// address only, and turns each 4096-byte block, however it arrives, into
// GpuPanelState.
#include "console/intake/link/intake.h"
#include "net/tcp.h"

#include <chrono>
#include <cstring>
#include <thread>

namespace {

// How often a blocked accept or receive looks at the flags.
constexpr int kPollMs = 200;

bool running(const ReceiverConfig& config) {
    return !config.keepRunning || config.keepRunning->load(std::memory_order_relaxed) != 0;
}

bool peerIsAgent(const GpuPanelState& state, const char* peer) {
    char expected[kAddressTextMax + 1];
    copyAgentAddress(state, expected);
    return expected[0] != '\0' && std::strcmp(expected, peer) == 0;
}

void serve(GpuPanelState& state, const IntakeWindowCallbacks& hooks, const ReceiverConfig& config,
           TcpSocket s) {
    // TCP delivers a block in as many pieces as the path makes: gather them.
    uint8_t block[kReportBlockBytes];
    int have = 0;
    const uint32_t servedSince = state.reconnectCount.load(std::memory_order_relaxed);
    while (running(config)) {
        if (relaxed(state.reconnectRequested) != 0 ||
            state.reconnectCount.load(std::memory_order_relaxed) != servedSince)
            break;
        int n = tcpRecvOnce(s, block + have, kReportBlockBytes - have, kPollMs);
        if (n == kTcpTimedOut)
            continue;
        if (n <= 0) {
            tcpClose(s);
            resetGpuPanelState(state, hooks);
            return;
        }
        have += n;
        if (have == kReportBlockBytes) {
            applyReportBlock(state, block, hooks);
            have = 0;
            if (state.reconnectCount.load(std::memory_order_relaxed) != servedSince) {
                // The block waited on the window while "接続" asked a new Agent
                // and set the bare title; the old Agent must not keep its name.
                if (hooks.writeTitle)
                    hooks.writeTitle(hooks.context, kConsoleTitle);
                break;
            }
        }
    }
    tcpClose(s);
}

} // namespace

bool ensureListening(ListenerSlot& slot) {
    if (slot.socket.load() != kNoSocket)
        return true;
    netStartup();
    TcpSocket s = tcpListen(slot.bindAddress, slot.port, 1);
    if (s == kNoSocket) {
        netCleanup();
        return false;
    }
    slot.socket.store(s);
    return true;
}

void runReceiver(GpuPanelState& state, const IntakeWindowCallbacks& hooks, const ReceiverConfig& config) {
    netStartup();
    while (running(config)) {
        TcpSocket listener = config.listener ? config.listener->socket.load() : kNoSocket;
        if (listener == kNoSocket) {
            // Not listening: wait for "接続" to listen rather than take the port.
            std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
            continue;
        }
        char peer[16] = {};
        bool timedOut = false;
        // With no flag to look at, nothing but a connection needs this
        // thread: it waits for one without waking (each wake-up costs).
        TcpSocket s = tcpAccept(listener, config.keepRunning ? kPollMs : -1, peer, &timedOut);
        if (s == kNoSocket) {
            if (!timedOut)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            continue;
        }
        if (!peerIsAgent(state, peer)) {
            tcpClose(s);
            continue;
        }
        serve(state, hooks, config, s);
    }
    netCleanup();
}
