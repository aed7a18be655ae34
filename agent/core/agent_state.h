// The Agent's process-wide state: what start-up prepares, what the sampler
// writes and what the reporting thread and the window read. One instance lives
// in the program's entry file; tests make their own.
#pragma once
#include "agent/core/gpu_health.h"
#include "protocol/gpu_sample.h"

#include <atomic>
#include <cstdint>
#include <mutex>

// A GPU is up while its last successful reading is at most this old.
constexpr int64_t kGpuUpWindowMs = 5000;
constexpr int64_t kNoReadingYet = INT64_MIN;

// One GPU's readings as the sampler publishes them: every number an atomic
// the reporting thread may load at any time, the label behind the state's lock.
struct SharedSample {
#define GAUGELINE_DECLARE_ATOMIC(name, kind, conv) std::atomic<GAUGELINE_WIRE_TYPE_##kind> name{0};
    GAUGELINE_SAMPLE_FIELDS(GAUGELINE_DECLARE_ATOMIC)
#undef GAUGELINE_DECLARE_ATOMIC
#define GAUGELINE_DECLARE_AGENT_ATOMIC(name) std::atomic<uint32_t> name{0};
    GAUGELINE_AGENT_ONLY_FIELDS(GAUGELINE_DECLARE_AGENT_ATOMIC)
#undef GAUGELINE_DECLARE_AGENT_ATOMIC
    char tabLabel[kTabLabelBytes] = {}; // guarded by AgentState::labelLock
};

struct AgentSlot {
    // Written by start-up before the worker threads exist; read-only afterwards.
    wchar_t fullName[kFullNameChars + 1] = {};
    uint32_t busId = 0;
    SharedSample sample;
    // steadyMs() of the slot's last driver call that gave a reading.
    std::atomic<int64_t> lastReadingMs{kNoReadingYet};
    GpuHealth health; // guarded by AgentState::healthLock
};

struct AgentState {
    std::atomic<int32_t> agentRunning{0};
    std::atomic<int32_t> gpuCount{0};
    std::atomic<int32_t> reportConnected{0};
    AgentSlot slots[kGpuSlotCount];
    mutable std::mutex labelLock;
    mutable std::mutex healthLock;
    // Set before the samplers start when the metrics are to name processes.
    std::atomic<bool> readProcesses{false};
    char driverVersion[NVML_SYSTEM_DRIVER_VERSION_BUFFER_SIZE] = {}; // guarded by healthLock
};

// Every flag and reading 0, every label empty, every name "- empty -", bus
// numbers and reportConnected 0, gpuCount 0.
void resetAgentSlots(AgentState& state);

void storeTabLabel(AgentState& state, int slot, const char* label);

// The health of a slot, each part written by its own reader: identity at
// start, readings by the sampler, Xids by the event watcher.
void storeIdentity(AgentState& state, int slot, const GpuIdentity& identity);
// Whether the slot's identity was read (a UUID or a bus id).
bool identityKnown(const AgentState& state, int slot);
void storeHealthReadings(AgentState& state, int slot, const GpuHealthReadings& readings);
void storeProcesses(AgentState& state, int slot, const GpuProcesses& processes);
void watchXids(AgentState& state, int slot);
void storeXid(AgentState& state, int slot, uint64_t xid);
// The driver version as NVML tells it; kept as it was where the call fails.
void readDriverVersion(AgentState& state, const NvmlApi& api);
// Plain copies of all 8 slots' health and the driver version for the metrics.
void snapshotHealth(const AgentState& state, GpuHealth out[kGpuSlotCount], char* driverVersion, int size);

// Plain copies of all 8 slots for a report block.
void snapshotSamples(const AgentState& state, GpuSample out[kGpuSlotCount]);

// Milliseconds on the steady clock: the time base of lastReadingMs.
int64_t steadyMs();
inline void noteReading(AgentSlot& slot) {
    slot.lastReadingMs.store(steadyMs(), std::memory_order_relaxed);
}
// Per slot: whether it gave a reading within kGpuUpWindowMs before nowMs.
void slotsUp(const AgentState& state, int64_t nowMs, bool up[kGpuSlotCount]);
