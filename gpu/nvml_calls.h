// Every NVML function the Agent calls, written once: X(name after "nvml",
// field, parameters); each returns nvmlReturn_t. The Agent's lookup by name,
// its test driver and the simulated library's checks are generated from it.
// Portable: NVML has the same functions on every system.
#pragma once
#include "gpu/driver_records.h"

#define GAUGELINE_NVML_CALLS(X)                                                                              \
    X(Init, init, ())                                                                                        \
    X(DeviceGetHandleByIndex, getHandleByIndex, (uint32_t index, nvmlDevice_t * device))                     \
    X(DeviceGetMemoryInfo, getMemoryInfo, (nvmlDevice_t device, nvmlMemory_t * memory))                      \
    X(DeviceGetPowerUsage, getPowerUsage, (nvmlDevice_t device, uint32_t * milliwatts))                      \
    X(DeviceGetPowerManagementLimit, getPowerManagementLimit, (nvmlDevice_t device, uint32_t * milliwatts))  \
    X(DeviceGetEnforcedPowerLimit, getEnforcedPowerLimit, (nvmlDevice_t device, uint32_t * milliwatts))      \
    X(DeviceGetPciInfo, getPciInfo, (nvmlDevice_t device, nvmlPciInfo_t * pci))                              \
    X(DeviceGetDriverModel, getDriverModel,                                                                  \
      (nvmlDevice_t device, nvmlDriverModel_t * current, nvmlDriverModel_t * pending))

// Addresses looked up by name in one loaded NVML library; a function the
// library does not export stays null, and calling it counts as a failure.
struct NvmlApi {
#define GAUGELINE_NVML_FIELD(name, field, params) nvmlReturn_t(*field) params = nullptr;
    GAUGELINE_NVML_CALLS(GAUGELINE_NVML_FIELD)
#undef GAUGELINE_NVML_FIELD
};
