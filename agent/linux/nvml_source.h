// The Linux Agent's sampler, over NVML alone: opens the first 8 GPUs, and
// samples each into its slot on a thread of its own, so that one GPU whose
// driver calls hang never delays the others. Its steps have the names of the
// Windows sampler's (sampler.h): startSampler, sampleSlot, runSampler,
// stopSampler.
#pragma once
#include "agent/core/agent_state.h"
#include "gpu/nvml_calls.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

// NVML's own words for error ("Driver Not Loaded"), else "error N" written
// into buffer where the library has no nvmlErrorString.
const char* nvmlErrorText(const NvmlApi& api, nvmlReturn_t error, char* buffer, int size);

struct NvmlSourceCallbacks {
    void* context = nullptr;
    // Told once per lost slot, on that slot's sampler thread.
    void (*lost)(void* context, int slot) = nullptr;
};

struct NvmlSource {
    const NvmlApi* api = nullptr;             // bound with NvmlGeneration::Newest
    nvmlDevice_t devices[kGpuSlotCount] = {}; // null where the handle could not be read
    // Set when a call of the slot (or its lookup at start) said the GPU is
    // lost; the slot is never called again.
    std::atomic<bool> lost[kGpuSlotCount] = {};
    // Driver calls of the slot that answered NVML_SUCCESS, counted by its thread.
    std::atomic<uint32_t> answers[kGpuSlotCount] = {};
    // Set while a sampler thread is inside a driver call for the slot.
    std::atomic<bool> inCall[kGpuSlotCount] = {};
    // Once set no new driver call starts, and the sampler threads end.
    std::atomic<bool> stop{false};
    // The samplers sleep on this between passes, so that they wake once a
    // period and at stop, not to look at the flag.
    std::mutex wakeLock;
    std::condition_variable wake;
    NvmlSourceCallbacks callbacks;
};

enum class NvmlStartOutcome { Ok, InitFailed, CountFailed, NoGpu };

struct NvmlStartResult {
    NvmlStartOutcome outcome = NvmlStartOutcome::Ok;
    nvmlReturn_t error = NVML_SUCCESS; // the failing call's error for InitFailed and CountFailed
    uint32_t deviceCount = 0;          // as NVML counts them; only the first 8 are reported
    // Per reported slot: NVML_SUCCESS, or the error of its handle or name lookup.
    nvmlReturn_t slotError[kGpuSlotCount] = {};
};

// Resets the slots, initialises NVML (once per process), counts the GPUs,
// takes the handles and names of the first 8, sets gpuCount and builds the
// labels with the connector suffix " (UNKNOWN 接続)".
NvmlStartResult startSampler(AgentState& state, NvmlSource& source);

// Reads one slot into its shared sample and, when any call answered, notes
// the time of the reading. A failed reading keeps its value and flag; a lost
// slot is not called.
void sampleSlot(AgentState& state, NvmlSource& source, int slot);

// The thread body of one slot: sampleSlot once per period until source.stop.
void runSampler(AgentState& state, NvmlSource& source, int slot, int periodMs = 1000);

// Sets source.stop and waits up to waitMs for every thread to be out of its
// driver call. True when none is inside one any more: no call can start after
// that, and nvmlShutdown is safe.
bool stopSampler(NvmlSource& source, int waitMs);
