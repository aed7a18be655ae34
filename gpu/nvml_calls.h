// Every NVML function the Agents call, written once: X(field, newer export,
// older export, since, parameters); each returns nvmlReturn_t. Where a call has
// no older export both names are the same. since is 0 where every driver the
// Agents run on exports the call, else the driver branch that brought it: the
// Agents read on without it, and the tests check every other export against
// NVIDIA's own library. The loaders, the test fakes and the simulated
// library's type checks are generated from this list.
// Portable: NVML has the same functions on every system.
#pragma once
#include "gpu/driver_records.h"

#define GAUGELINE_NVML_CALLS(X)                                                                              \
    X(init, nvmlInit_v2, nvmlInit, 0, ())                                                                    \
    X(shutdown, nvmlShutdown, nvmlShutdown, 0, ())                                                           \
    X(getCount, nvmlDeviceGetCount_v2, nvmlDeviceGetCount, 0, (uint32_t * count))                            \
    X(getHandleByIndex, nvmlDeviceGetHandleByIndex_v2, nvmlDeviceGetHandleByIndex, 0,                        \
      (uint32_t index, nvmlDevice_t * device))                                                               \
    X(getName, nvmlDeviceGetName, nvmlDeviceGetName, 0, (nvmlDevice_t device, char* name, uint32_t length))  \
    X(getClockInfo, nvmlDeviceGetClockInfo, nvmlDeviceGetClockInfo, 0,                                       \
      (nvmlDevice_t device, nvmlClockType_t type, uint32_t * mhz))                                           \
    X(getMaxClockInfo, nvmlDeviceGetMaxClockInfo, nvmlDeviceGetMaxClockInfo, 0,                              \
      (nvmlDevice_t device, nvmlClockType_t type, uint32_t * mhz))                                           \
    X(getDefaultApplicationsClock, nvmlDeviceGetDefaultApplicationsClock,                                    \
      nvmlDeviceGetDefaultApplicationsClock, 0, (nvmlDevice_t device, nvmlClockType_t type, uint32_t * mhz)) \
    X(getUtilizationRates, nvmlDeviceGetUtilizationRates, nvmlDeviceGetUtilizationRates, 0,                  \
      (nvmlDevice_t device, nvmlUtilization_t * rates))                                                      \
    X(getEncoderUtilization, nvmlDeviceGetEncoderUtilization, nvmlDeviceGetEncoderUtilization, 0,            \
      (nvmlDevice_t device, uint32_t * percent, uint32_t * samplingPeriodUs))                                \
    X(getDecoderUtilization, nvmlDeviceGetDecoderUtilization, nvmlDeviceGetDecoderUtilization, 0,            \
      (nvmlDevice_t device, uint32_t * percent, uint32_t * samplingPeriodUs))                                \
    X(getMemoryInfoV2, nvmlDeviceGetMemoryInfo_v2, nvmlDeviceGetMemoryInfo_v2, 0,                            \
      (nvmlDevice_t device, nvmlMemory_v2_t * memory))                                                       \
    X(getMemoryInfo, nvmlDeviceGetMemoryInfo, nvmlDeviceGetMemoryInfo, 0,                                    \
      (nvmlDevice_t device, nvmlMemory_t * memory))                                                          \
    X(getTemperature, nvmlDeviceGetTemperature, nvmlDeviceGetTemperature, 0,                                 \
      (nvmlDevice_t device, nvmlTemperatureSensors_t sensor, uint32_t * celsius))                            \
    X(getPowerUsage, nvmlDeviceGetPowerUsage, nvmlDeviceGetPowerUsage, 0,                                    \
      (nvmlDevice_t device, uint32_t * milliwatts))                                                          \
    X(getEnforcedPowerLimit, nvmlDeviceGetEnforcedPowerLimit, nvmlDeviceGetEnforcedPowerLimit, 0,            \
      (nvmlDevice_t device, uint32_t * milliwatts))                                                          \
    X(getPowerManagementLimit, nvmlDeviceGetPowerManagementLimit, nvmlDeviceGetPowerManagementLimit, 0,      \
      (nvmlDevice_t device, uint32_t * milliwatts))                                                          \
    X(getFanSpeed, nvmlDeviceGetFanSpeed, nvmlDeviceGetFanSpeed, 0,                                          \
      (nvmlDevice_t device, uint32_t * percent))                                                             \
    X(getFanSpeedRpm, nvmlDeviceGetFanSpeedRPM, nvmlDeviceGetFanSpeedRPM, 570,                               \
      (nvmlDevice_t device, nvmlFanSpeedInfo_t * fan))                                                       \
    X(getPerformanceState, nvmlDeviceGetPerformanceState, nvmlDeviceGetPerformanceState, 0,                  \
      (nvmlDevice_t device, nvmlPstates_t * state))                                                          \
    X(getPciInfo, nvmlDeviceGetPciInfo, nvmlDeviceGetPciInfo, 0, (nvmlDevice_t device, nvmlPciInfo_t * pci)) \
    X(getDriverModel, nvmlDeviceGetDriverModel, nvmlDeviceGetDriverModel, 0,                                 \
      (nvmlDevice_t device, nvmlDriverModel_t * current, nvmlDriverModel_t * pending))                       \
    X(getUuid, nvmlDeviceGetUUID, nvmlDeviceGetUUID, 0, (nvmlDevice_t device, char* uuid, uint32_t length))  \
    X(getPciInfoV3, nvmlDeviceGetPciInfo_v3, nvmlDeviceGetPciInfo_v3, 0,                                     \
      (nvmlDevice_t device, nvmlPciInfo_t * pci))                                                            \
    X(getDriverVersion, nvmlSystemGetDriverVersion, nvmlSystemGetDriverVersion, 0,                           \
      (char* version, uint32_t length))                                                                      \
    X(getTotalEnergyConsumption, nvmlDeviceGetTotalEnergyConsumption, nvmlDeviceGetTotalEnergyConsumption,   \
      0, (nvmlDevice_t device, unsigned long long* millijoules))                                             \
    X(getSupportedClocksEventReasons, nvmlDeviceGetSupportedClocksEventReasons,                              \
      nvmlDeviceGetSupportedClocksThrottleReasons, 535, (nvmlDevice_t device, unsigned long long* reasons))  \
    X(getCurrentClocksEventReasons, nvmlDeviceGetCurrentClocksEventReasons,                                  \
      nvmlDeviceGetCurrentClocksThrottleReasons, 535, (nvmlDevice_t device, unsigned long long* reasons))    \
    X(getEccMode, nvmlDeviceGetEccMode, nvmlDeviceGetEccMode, 0,                                             \
      (nvmlDevice_t device, nvmlEnableState_t * current, nvmlEnableState_t * pending))                       \
    X(getTotalEccErrors, nvmlDeviceGetTotalEccErrors, nvmlDeviceGetTotalEccErrors, 0,                        \
      (nvmlDevice_t device, nvmlMemoryErrorType_t type, nvmlEccCounterType_t counter,                        \
       unsigned long long* count))                                                                           \
    X(eventSetCreate, nvmlEventSetCreate, nvmlEventSetCreate, 0, (nvmlEventSet_t * set))                     \
    X(registerEvents, nvmlDeviceRegisterEvents, nvmlDeviceRegisterEvents, 0,                                 \
      (nvmlDevice_t device, unsigned long long types, nvmlEventSet_t set))                                   \
    X(eventSetWait, nvmlEventSetWait_v2, nvmlEventSetWait, 0,                                                \
      (nvmlEventSet_t set, nvmlEventData_t * data, uint32_t timeoutMs))                                      \
    X(eventSetFree, nvmlEventSetFree, nvmlEventSetFree, 0, (nvmlEventSet_t set))                             \
    X(getRunningProcessDetailList, nvmlDeviceGetRunningProcessDetailList,                                    \
      nvmlDeviceGetRunningProcessDetailList, 535, (nvmlDevice_t device, nvmlProcessDetailList_v1_t * list))

// Addresses looked up in one loaded library; an export it lacks stays null,
// and calling it counts as a failed reading.
struct NvmlApi {
#define GAUGELINE_NVML_FIELD(field, newer, older, since, params) nvmlReturn_t(*field) params = nullptr;
    GAUGELINE_NVML_CALLS(GAUGELINE_NVML_FIELD)
#undef GAUGELINE_NVML_FIELD
    // NVML's own words for a status; null where the library lacks the export.
    const char* (*errorString)(nvmlReturn_t result) = nullptr;
};

// Which export of each call an Agent takes. Newest: the newer where the
// library has it, else the older, with the count and the handle lookup both
// newer or both older (the Linux Agent). Oldest: the older alone, the names
// the nvml.dll of the oldest Windows drivers has (the Windows Agent).
enum class NvmlGeneration { Newest, Oldest };

using NvmlLookup = void* (*)(void* library, const char* name);

// Fills every field of api from library through lookup.
void bindNvml(NvmlApi* api, NvmlLookup lookup, void* library, NvmlGeneration generation);
