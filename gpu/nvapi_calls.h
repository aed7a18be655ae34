// Every NvAPI function the system asks the driver for, each written once. The
// binding layer's entries, the Agent's driver table and the simulated driver's
// answers are generated from these lists; adding a reading adds a line here.
#pragma once
#include "gpu/driver_records.h"

// Calls made through the binding layer:
// X(entry, driver name, interface id, driver table field, parameters, arguments).
// The two undocumented queries take records of 1368 bytes (CoolerStatusRecord)
// and 140 bytes (VoltageStatusRecord), version word first.
#define GAUGELINE_NVAPI_CALLS(X)                                                                             \
    X(EnumPhysicalGPUs, NvAPI_EnumPhysicalGPUs, 0xE5AC921F, enumPhysicalGpus,                                \
      (NvPhysicalGpuHandle * handles, uint32_t * count), (handles, count))                                   \
    X(EnumTCCPhysicalGPUs, NvAPI_EnumTCCPhysicalGPUs, 0xD9930B07, enumTccPhysicalGpus,                       \
      (NvPhysicalGpuHandle * handles, uint32_t * count), (handles, count))                                   \
    X(GetFullName, NvAPI_GPU_GetFullName, 0xCEEE8E9F, getFullName, (NvPhysicalGpuHandle handle, char* name), \
      (handle, name))                                                                                        \
    X(GetBusId, NvAPI_GPU_GetBusId, 0x1BE0B8E5, getBusId, (NvPhysicalGpuHandle handle, uint32_t * busId),    \
      (handle, busId))                                                                                       \
    X(GetAllClockFrequencies, NvAPI_GPU_GetAllClockFrequencies, 0xDCB616C3, getAllClockFrequencies,          \
      (NvPhysicalGpuHandle handle, NV_GPU_CLOCK_FREQUENCIES * clocks), (handle, clocks))                     \
    X(GetPstates20, NvAPI_GPU_GetPstates20, 0x6FF81213, getPstates20,                                        \
      (NvPhysicalGpuHandle handle, NV_GPU_PERF_PSTATES20_INFO * pstates), (handle, pstates))                 \
    X(GetCurrentPstate, NvAPI_GPU_GetCurrentPstate, 0x927DA4F6, getCurrentPstate,                            \
      (NvPhysicalGpuHandle handle, NV_GPU_PERF_PSTATE_ID * pstate), (handle, pstate))                        \
    X(GetDynamicPstatesInfoEx, NvAPI_GPU_GetDynamicPstatesInfoEx, 0x60DED2ED, getDynamicPstatesInfoEx,       \
      (NvPhysicalGpuHandle handle, NV_GPU_DYNAMIC_PSTATES_INFO_EX * info), (handle, info))                   \
    X(GetThermalSettings, NvAPI_GPU_GetThermalSettings, 0xE3640A56, getThermalSettings,                      \
      (NvPhysicalGpuHandle handle, uint32_t sensorIndex, NV_GPU_THERMAL_SETTINGS * settings),                \
      (handle, sensorIndex, settings))                                                                       \
    X(GetMemoryInfo, NvAPI_GPU_GetMemoryInfo, 0x07F9B368, getMemoryInfo,                                     \
      (NvPhysicalGpuHandle handle, NV_DISPLAY_DRIVER_MEMORY_INFO * memory), (handle, memory))                \
    X(GetPhysicalFrameBufferSize, NvAPI_GPU_GetPhysicalFrameBufferSize, 0x46FBEB03,                          \
      getPhysicalFrameBufferSize, (NvPhysicalGpuHandle handle, uint32_t * sizeKb), (handle, sizeKb))         \
    X(GetConnectedDisplayIds, NvAPI_GPU_GetConnectedDisplayIds, 0x0078DBA2, getConnectedDisplayIds,          \
      (NvPhysicalGpuHandle handle, NV_GPU_DISPLAYIDS * displays, uint32_t * count, uint32_t flags),          \
      (handle, displays, count, flags))                                                                      \
    X(QueryCoolerStatus, QueryCoolerStatus, 0xDA141340, queryCoolerStatus,                                   \
      (NvPhysicalGpuHandle handle, uint32_t coolerIndex, void* record), (handle, coolerIndex, record))       \
    X(QueryVoltageStatus, QueryVoltageStatus, 0xC16C7E2C, queryVoltageStatus,                                \
      (NvPhysicalGpuHandle handle, void* record), (handle, record))

// The driver's other functions: initialise and unload, the GPU usage query the
// Agent looks up directly, and the two hooks. X(entry, driver name, interface id).
#define GAUGELINE_NVAPI_DRIVER_FUNCTIONS(X)                                                                  \
    X(Initialize, NvAPI_Initialize, 0x0150E828)                                                              \
    X(Unload, NvAPI_Unload, 0xD22BDD7E)                                                                      \
    X(GpuUsageQuery, GpuUsageQuery, 0x189A1FDF)                                                              \
    X(EntryHook, EntryHook, 0x33C7358C)                                                                      \
    X(ExitHook, ExitHook, 0x593E8644)

// Interface ids passed to nvapi_QueryInterface.
namespace nvapi_id {
#define GAUGELINE_NVAPI_ID(entry, name, id, ...) constexpr uint32_t name = id;
GAUGELINE_NVAPI_CALLS(GAUGELINE_NVAPI_ID)
GAUGELINE_NVAPI_DRIVER_FUNCTIONS(GAUGELINE_NVAPI_ID)
#undef GAUGELINE_NVAPI_ID
} // namespace nvapi_id

enum class NvapiEntry : int {
#define GAUGELINE_NVAPI_ENTRY(entry, ...) entry,
    GAUGELINE_NVAPI_CALLS(GAUGELINE_NVAPI_ENTRY)
#undef GAUGELINE_NVAPI_ENTRY
        Count
};
constexpr int kNvapiEntryCount = static_cast<int>(NvapiEntry::Count);

constexpr uint32_t kNvapiEntryIds[kNvapiEntryCount] = {
#define GAUGELINE_NVAPI_ENTRY_ID(entry, name, id, ...) id,
    GAUGELINE_NVAPI_CALLS(GAUGELINE_NVAPI_ENTRY_ID)
#undef GAUGELINE_NVAPI_ENTRY_ID
};
