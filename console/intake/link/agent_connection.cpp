#include "console/intake/link/agent_connection.h"

#include "console/intake/link/intake.h"
#include "net/tcp.h"
#include "protocol/report_block.h"

#include <chrono>
#include <thread>

namespace {

void pauseFor(const ConnectCallbacks& callbacks, int milliseconds) {
    if (milliseconds <= 0)
        return;
    if (callbacks.pause)
        callbacks.pause(callbacks.context, milliseconds);
    else
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

} // namespace

int chooseLocalAddressRow(const AddressRow* rows, int count) {
    if (!rows)
        return -1;
    for (int i = 0; i < count; ++i)
        if (rows[i].typeFlags == kPrimaryDhcpFlags)
            return i;
    return -1;
}

bool localAddressFromRows(const AddressRow* rows, int count, char out[16]) {
    int row = chooseLocalAddressRow(rows, count);
    if (row < 0)
        return false;
    formatInetAddr(rows[row].address, out);
    return true;
}

void joinAgentAddress(const char* const boxes[4], char out[kAddressTextMax + 1]) {
    int n = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0)
            out[n++] = '.';
        const char* box = boxes[part] ? boxes[part] : "";
        for (int i = 0; i < kBoxChars && box[i] != '\0'; ++i)
            out[n++] = box[i];
    }
    out[n] = '\0';
}

AgentRequestResult sendAgentRequest(const char* agentAddress, const char* localAddress,
                                    const AgentRequestConfig& config, const ConnectCallbacks& callbacks) {
    uint32_t target = 0;
    if (!agentAddress || !parseInetAddr(agentAddress, &target))
        return AgentRequestResult::BadAddress;
    netStartup();
    AgentRequestResult result = AgentRequestResult::Sent;
    TcpSocket second = kNoSocket;
    TcpSocket first = tcpConnect(target, config.port, config.connectWaitMs);
    if (first == kNoSocket) {
        result = AgentRequestResult::NoAnswer;
    } else {
        second = tcpConnect(target, config.port, -1);
        if (second == kNoSocket)
            result = AgentRequestResult::SecondRefused;
    }
    if (result == AgentRequestResult::Sent) {
        char own[16] = {};
        const char* carried = localAddress;
        if (!carried || carried[0] == '\0')
            carried = tcpLocalAddress(first, own) ? own : "";
        uint8_t request[kRequestBytes];
        if (carried[0] == '\0' || !writeRequest(carried, request)) {
            result = AgentRequestResult::NoLocalAddress;
        } else {
            pauseFor(callbacks, config.sendDelayMs);
            if (tcpSendOnce(first, request, kRequestBytes) != kRequestBytes)
                result = AgentRequestResult::ShortSend;
        }
    }
    if (second != kNoSocket)
        tcpClose(second);
    if (first != kNoSocket)
        tcpClose(first);
    netCleanup();
    return result;
}

ConnectOutcome connectToAgent(GpuPanelState& state, const IntakeWindowCallbacks& window,
                              const ConnectConfig& config, const ConnectCallbacks& callbacks) {
    // An Agent asked from here could never report back.
    if (config.listener && !ensureListening(*config.listener))
        return ConnectOutcome::CannotListen;
    state.reconnectCount.fetch_add(1, std::memory_order_relaxed);
    store(state.reconnectRequested, 1);
    pauseFor(callbacks, config.dropWaitMs);
    char boxes[4][kBoxChars + 2] = {};
    if (callbacks.readBoxes)
        callbacks.readBoxes(callbacks.context, boxes);
    const char* parts[4] = {boxes[0], boxes[1], boxes[2], boxes[3]};
    char address[kAddressTextMax + 1];
    joinAgentAddress(parts, address);
    setAgentAddress(state, address);
    store(state.reconnectRequested, 0);

    char local[16] = {};
    if (!callbacks.findLocalAddress || !callbacks.findLocalAddress(callbacks.context, local))
        local[0] = '\0';
    bool sent = sendAgentRequest(address, local, config.request, callbacks) == AgentRequestResult::Sent;
    if (sent) {
        if (window.writeTitle)
            window.writeTitle(window.context, kConsoleTitle);
        return ConnectOutcome::Requested;
    }
    setAgentAddress(state, "");
    resetGpuPanelState(state, window);
    return ConnectOutcome::Failed;
}
