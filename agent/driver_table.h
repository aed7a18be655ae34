// The driver functions the Agent calls, as a table: the Windows build fills it
// from the NvAPI binding layer, nvapi64.dll and nvml.dll; tests fill it with
// fakes. The sampler and the start-up steps call only through it.
#pragma once
#include "gpu/driver_records.h"

#include <cstdint>

// Addresses looked up by name in one loaded NVML library; a function the
// library does not export stays null, and calling it counts as a failure.
struct NvmlApi {
    nvmlInitFn init = nullptr;
    nvmlDeviceGetHandleByIndexFn getHandleByIndex = nullptr;
    nvmlDeviceGetMemoryInfoFn getMemoryInfo = nullptr;
    nvmlDeviceGetUintFn getPowerUsage = nullptr;
    nvmlDeviceGetUintFn getPowerManagementLimit = nullptr;
    nvmlDeviceGetPciInfoFn getPciInfo = nullptr;
    nvmlDeviceGetDriverModelFn getDriverModel = nullptr;
};

struct DriverTable {
    // NvAPI binding layer entries.
    NvAPI_Status (*initialize)() = nullptr;
    NvAPI_Status (*enumPhysicalGpus)(NvPhysicalGpuHandle* handles, uint32_t* count) = nullptr;
    NvAPI_Status (*enumTccPhysicalGpus)(NvPhysicalGpuHandle* handles, uint32_t* count) = nullptr;
    NvAPI_Status (*getFullName)(NvPhysicalGpuHandle handle, char* name) = nullptr;
    NvAPI_Status (*getBusId)(NvPhysicalGpuHandle handle, uint32_t* busId) = nullptr;
    NvAPI_Status (*getAllClockFrequencies)(NvPhysicalGpuHandle handle,
                                           NV_GPU_CLOCK_FREQUENCIES* clocks) = nullptr;
    NvAPI_Status (*getPstates20)(NvPhysicalGpuHandle handle, NV_GPU_PERF_PSTATES20_INFO* pstates) = nullptr;
    NvAPI_Status (*getCurrentPstate)(NvPhysicalGpuHandle handle, NV_GPU_PERF_PSTATE_ID* pstate) = nullptr;
    NvAPI_Status (*getDynamicPstatesInfoEx)(NvPhysicalGpuHandle handle,
                                            NV_GPU_DYNAMIC_PSTATES_INFO_EX* info) = nullptr;
    NvAPI_Status (*getThermalSettings)(NvPhysicalGpuHandle handle, uint32_t sensorIndex,
                                       NV_GPU_THERMAL_SETTINGS* settings) = nullptr;
    NvAPI_Status (*getMemoryInfo)(NvPhysicalGpuHandle handle,
                                  NV_DISPLAY_DRIVER_MEMORY_INFO* memory) = nullptr;
    NvAPI_Status (*getPhysicalFrameBufferSize)(NvPhysicalGpuHandle handle, uint32_t* sizeKb) = nullptr;
    NvAPI_Status (*getConnectedDisplayIds)(NvPhysicalGpuHandle handle, NV_GPU_DISPLAYIDS* displays,
                                           uint32_t* count, uint32_t flags) = nullptr;
    NvAPI_Status (*queryCoolerStatus)(NvPhysicalGpuHandle handle, uint32_t coolerIndex,
                                      void* record) = nullptr;
    NvAPI_Status (*queryVoltageStatus)(NvPhysicalGpuHandle handle, void* record) = nullptr;

    // nvapi_QueryInterface of nvapi64.dll loaded from the system directory
    // (the GPU usage query has no binding entry); null when either is missing.
    NvAPI_QueryInterfaceFn (*directQueryInterface)() = nullptr;

    // Loads the NVML library and looks its functions up; false when the
    // library cannot be loaded (api then all null).
    bool (*loadNvml)(NvmlApi* api) = nullptr;

    void (*sleepMs)(int ms) = nullptr;
};
