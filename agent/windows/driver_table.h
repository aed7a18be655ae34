// The driver functions the Agent calls, as a table: the Windows build fills it
// from the NvAPI binding layer, nvapi64.dll and nvml.dll; tests fill it with
// fakes. The sampler and the start-up steps call only through it.
#pragma once
#include "gpu/nvapi_calls.h"
#include "gpu/nvml_calls.h"
#include "protocol/wire.h"

#include <cstdint>

struct DriverTable {
    // NvAPI binding layer entries.
    NvAPI_Status (*initialize)() = nullptr;
#define GAUGELINE_DRIVER_FIELD(entry, name, id, field, params, args) NvAPI_Status(*field) params = nullptr;
    GAUGELINE_NVAPI_CALLS(GAUGELINE_DRIVER_FIELD)
#undef GAUGELINE_DRIVER_FIELD

    // nvapi_QueryInterface of nvapi64.dll loaded from the system directory
    // (the GPU usage query has no binding entry); null when either is missing.
    NvAPI_QueryInterfaceFn (*directQueryInterface)() = nullptr;

    // Loads the NVML library and looks its functions up; false when the
    // library cannot be loaded (api then all null).
    bool (*loadNvml)(NvmlApi* api) = nullptr;

    void (*sleepMs)(int ms) = nullptr;
};

constexpr int kMaxGpuHandles = NVAPI_MAX_PHYSICAL_GPUS;

// The driver records whose version start-up probes.
enum class RecordVersion { Clock, Pstates, Thermal, Memory, Cooler };
constexpr int kRecordVersionCount = 5;

// The driver's handles of the recognised GPUs, physical GPUs first, then TCC
// GPUs: start-up fills them, the sampler reads those below gpuCount by slot.
// They stay on the Windows side; the shared AgentState knows no NvAPI.
struct NvapiGpus {
    NvPhysicalGpuHandle handles[kMaxGpuHandles] = {};
    // Per slot, the version of each record (by RecordVersion) that start-up
    // found the GPU accepts.
    uint32_t recordVersions[kGpuSlotCount][kRecordVersionCount] = {};
};

inline uint32_t recordVersion(const NvapiGpus& gpus, int slot, RecordVersion r) {
    return gpus.recordVersions[slot][static_cast<int>(r)];
}
