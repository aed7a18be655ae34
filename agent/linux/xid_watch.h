// Counts NVML's critical Xid events per GPU on a thread of its own. NVML
// documents its events for Linux only, so only the Linux Agent watches them.
#pragma once
#include "agent/core/agent_state.h"
#include "gpu/nvml_calls.h"

#include <atomic>
#include <thread>

struct XidWatch {
    const NvmlApi* api = nullptr;
    nvmlEventSet_t set = nullptr;
    nvmlDevice_t devices[kGpuSlotCount] = {};
    std::atomic<bool> stop{false};
    std::thread thread;
};

// The longest a wait for events lasts, and so the longest stopXidWatch takes.
constexpr uint32_t kXidWaitMs = 500;

// Registers every opened GPU (devices, null where not opened) for critical
// Xid events and starts the thread when at least one took it; a GPU that did
// not (NOT_SUPPORTED) has no Xid counts. False when nothing is watched.
bool startXidWatch(AgentState& state, XidWatch& watch, const NvmlApi& api,
                   const nvmlDevice_t devices[kGpuSlotCount]);

// Ends the thread within one wait and frees the event set.
void stopXidWatch(XidWatch& watch);
