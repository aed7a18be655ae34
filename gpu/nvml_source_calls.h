// Every NVML function the NVML-only Agent (Linux) calls, written once:
// X(field, export, older export, parameters); each returns nvmlReturn_t. The
// newer export is taken where the library has it, else the older one (the
// same name where there is no older one). The count and the handle lookup
// must come from the same generation: the binder takes both newer or both
// older. The Agent's lookup, its test fakes and the simulated library's type
// checks are generated from this list.
#pragma once
#include "gpu/driver_records.h"

#define GAUGELINE_NVML_SOURCE_CALLS(X)                                                                       \
    X(init, nvmlInit_v2, nvmlInit, ())                                                                       \
    X(shutdown, nvmlShutdown, nvmlShutdown, ())                                                              \
    X(getCount, nvmlDeviceGetCount_v2, nvmlDeviceGetCount, (uint32_t * count))                               \
    X(getHandleByIndex, nvmlDeviceGetHandleByIndex_v2, nvmlDeviceGetHandleByIndex,                           \
      (uint32_t index, nvmlDevice_t * device))                                                               \
    X(getName, nvmlDeviceGetName, nvmlDeviceGetName, (nvmlDevice_t device, char* name, uint32_t length))     \
    X(getClockInfo, nvmlDeviceGetClockInfo, nvmlDeviceGetClockInfo,                                          \
      (nvmlDevice_t device, nvmlClockType_t type, uint32_t * mhz))                                           \
    X(getMaxClockInfo, nvmlDeviceGetMaxClockInfo, nvmlDeviceGetMaxClockInfo,                                 \
      (nvmlDevice_t device, nvmlClockType_t type, uint32_t * mhz))                                           \
    X(getDefaultApplicationsClock, nvmlDeviceGetDefaultApplicationsClock,                                    \
      nvmlDeviceGetDefaultApplicationsClock, (nvmlDevice_t device, nvmlClockType_t type, uint32_t * mhz))    \
    X(getUtilizationRates, nvmlDeviceGetUtilizationRates, nvmlDeviceGetUtilizationRates,                     \
      (nvmlDevice_t device, nvmlUtilization_t * rates))                                                      \
    X(getEncoderUtilization, nvmlDeviceGetEncoderUtilization, nvmlDeviceGetEncoderUtilization,               \
      (nvmlDevice_t device, uint32_t * percent, uint32_t * samplingPeriodUs))                                \
    X(getDecoderUtilization, nvmlDeviceGetDecoderUtilization, nvmlDeviceGetDecoderUtilization,               \
      (nvmlDevice_t device, uint32_t * percent, uint32_t * samplingPeriodUs))                                \
    X(getMemoryInfoV2, nvmlDeviceGetMemoryInfo_v2, nvmlDeviceGetMemoryInfo_v2,                               \
      (nvmlDevice_t device, nvmlMemory_v2_t * memory))                                                       \
    X(getMemoryInfo, nvmlDeviceGetMemoryInfo, nvmlDeviceGetMemoryInfo,                                       \
      (nvmlDevice_t device, nvmlMemory_t * memory))                                                          \
    X(getTemperature, nvmlDeviceGetTemperature, nvmlDeviceGetTemperature,                                    \
      (nvmlDevice_t device, nvmlTemperatureSensors_t sensor, uint32_t * celsius))                            \
    X(getPowerUsage, nvmlDeviceGetPowerUsage, nvmlDeviceGetPowerUsage,                                       \
      (nvmlDevice_t device, uint32_t * milliwatts))                                                          \
    X(getEnforcedPowerLimit, nvmlDeviceGetEnforcedPowerLimit, nvmlDeviceGetEnforcedPowerLimit,               \
      (nvmlDevice_t device, uint32_t * milliwatts))                                                          \
    X(getFanSpeed, nvmlDeviceGetFanSpeed, nvmlDeviceGetFanSpeed, (nvmlDevice_t device, uint32_t * percent))  \
    X(getFanSpeedRpm, nvmlDeviceGetFanSpeedRPM, nvmlDeviceGetFanSpeedRPM,                                    \
      (nvmlDevice_t device, nvmlFanSpeedInfo_t * fan))                                                       \
    X(getPerformanceState, nvmlDeviceGetPerformanceState, nvmlDeviceGetPerformanceState,                     \
      (nvmlDevice_t device, nvmlPstates_t * state))

// Exports of either list that NVIDIA's libraries gained later than the oldest
// driver the Agents run on: X(export, driver branch that brought it). The
// Agents read on without them. The tests check every other listed export
// against NVIDIA's own library.
#define GAUGELINE_NVML_OPTIONAL_EXPORTS(X) X(nvmlDeviceGetFanSpeedRPM, 570)

// Addresses looked up in the loaded library; an export it lacks stays null,
// and calling it counts as a failed reading.
struct NvmlSourceApi {
#define GAUGELINE_NVML_SOURCE_FIELD(field, name, older, params) nvmlReturn_t(*field) params = nullptr;
    GAUGELINE_NVML_SOURCE_CALLS(GAUGELINE_NVML_SOURCE_FIELD)
#undef GAUGELINE_NVML_SOURCE_FIELD
    // NVML's own words for a status; null where the library lacks the export.
    const char* (*errorString)(nvmlReturn_t result) = nullptr;
};
