// The NvAPI binding layer: loads nvapi64.dll from the system directory on first
// use and forwards each NvAPI call to the driver function of its interface id.
// Every entry takes the driver function's own parameters and returns its status
// unchanged; the layer itself adds NVAPI_ERROR, NVAPI_LIBRARY_NOT_FOUND,
// NVAPI_NO_IMPLEMENTATION and NVAPI_API_NOT_INITIALIZED. Built for Windows only.
#pragma once
#include "gpu/driver_records.h"

NvAPI_Status NvAPI_Initialize();
NvAPI_Status NvAPI_Unload();

NvAPI_Status NvAPI_EnumPhysicalGPUs(NvPhysicalGpuHandle handles[NVAPI_MAX_PHYSICAL_GPUS], uint32_t* count);
NvAPI_Status NvAPI_EnumTCCPhysicalGPUs(NvPhysicalGpuHandle handles[NVAPI_MAX_PHYSICAL_GPUS], uint32_t* count);
NvAPI_Status NvAPI_GPU_GetFullName(NvPhysicalGpuHandle handle, char name[NVAPI_SHORT_STRING_MAX]);
NvAPI_Status NvAPI_GPU_GetBusId(NvPhysicalGpuHandle handle, uint32_t* busId);
NvAPI_Status NvAPI_GPU_GetAllClockFrequencies(NvPhysicalGpuHandle handle, NV_GPU_CLOCK_FREQUENCIES* clocks);
NvAPI_Status NvAPI_GPU_GetPstates20(NvPhysicalGpuHandle handle, NV_GPU_PERF_PSTATES20_INFO* pstates);
NvAPI_Status NvAPI_GPU_GetCurrentPstate(NvPhysicalGpuHandle handle, NV_GPU_PERF_PSTATE_ID* pstate);
NvAPI_Status NvAPI_GPU_GetDynamicPstatesInfoEx(NvPhysicalGpuHandle handle,
                                               NV_GPU_DYNAMIC_PSTATES_INFO_EX* info);
NvAPI_Status NvAPI_GPU_GetThermalSettings(NvPhysicalGpuHandle handle, uint32_t sensorIndex,
                                          NV_GPU_THERMAL_SETTINGS* settings);
NvAPI_Status NvAPI_GPU_GetMemoryInfo(NvPhysicalGpuHandle handle, NV_DISPLAY_DRIVER_MEMORY_INFO* memory);
NvAPI_Status NvAPI_GPU_GetPhysicalFrameBufferSize(NvPhysicalGpuHandle handle, uint32_t* sizeKb);
NvAPI_Status NvAPI_GPU_GetConnectedDisplayIds(NvPhysicalGpuHandle handle, NV_GPU_DISPLAYIDS* displays,
                                              uint32_t* count, uint32_t flags);
// record: 1368 bytes, version word first (CoolerStatusRecord)
NvAPI_Status QueryCoolerStatus(NvPhysicalGpuHandle handle, uint32_t coolerIndex, void* record);
// record: 140 bytes, version word 0x1008C (VoltageStatusRecord)
NvAPI_Status QueryVoltageStatus(NvPhysicalGpuHandle handle, void* record);
