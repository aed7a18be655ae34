// Where each Agent takes each reading, written once: X(wire fields, Windows
// Agent, Linux Agent, conversion on Linux). The two Agents read the same field
// from different driver calls, and the Console shows them alike, so what
// differs is kept here; README.md's table "Where each reading comes from" is
// checked against it.
#pragma once

// clang-format off
#define GAUGELINE_READING_SOURCES(X)                                                                         \
    X("graphicsClock / memoryClock / processorClock / videoClock, each with its Supported flag",             \
      "`NvAPI_GPU_GetAllClockFrequencies` current; processor and video only where their domain is present", \
      "`nvmlDeviceGetClockInfo` GRAPHICS / MEM / SM / VIDEO", "MHz × 1000 → kHz")                           \
    X("graphicsClockRated, memoryClockRated",                                                                \
      "`NvAPI_GPU_GetAllClockFrequencies` base, else the first P-state's clocks of `NvAPI_GPU_GetPstates20`", \
      "`nvmlDeviceGetDefaultApplicationsClock` GRAPHICS / MEM; data-centre boards give it (recent ones give " \
      "their maximum), GeForce and most workstation boards do not, and the rated clock stays 0",            \
      "MHz × 1000")                                                                                          \
    X("processorClockRated, videoClockRated",                                                                \
      "as graphicsClockRated; a P-state clock given as a range gives its upper end",                        \
      "none in NVML (the default applications clocks are a graphics and memory pair): stay 0", "")          \
    X("graphicsClockScale, memoryClockScale",                                                                \
      "the largest of the scale so far, the current clock and `NvAPI_GPU_GetAllClockFrequencies` boost",    \
      "the largest of the scale so far, the current clock and `nvmlDeviceGetMaxClockInfo`",                 \
      "kHz, never falls")                                                                                    \
    X("gpuLoad (+flag)", "the GPU usage query, looked up in `nvapi64.dll` by interface id",                  \
      "`nvmlDeviceGetUtilizationRates` gpu", "percent")                                                      \
    X("memoryControllerLoad (+flag)", "`NvAPI_GPU_GetDynamicPstatesInfoEx` frame buffer domain",             \
      "`nvmlDeviceGetUtilizationRates` memory", "percent")                                                   \
    X("videoEngineLoad (+flag)", "`NvAPI_GPU_GetDynamicPstatesInfoEx` video domain",                         \
      "the larger of `nvmlDeviceGetEncoderUtilization` and `nvmlDeviceGetDecoderUtilization` (either one "  \
      "succeeding sets the flag)", "percent")                                                                \
    X("memoryTotal, memoryUsage (+memoryUsageSupported)",                                                    \
      "WDDM: `NvAPI_GPU_GetPhysicalFrameBufferSize`, and dedicated less currently available of "            \
      "`NvAPI_GPU_GetMemoryInfo`; TCC: `nvmlDeviceGetMemoryInfo`",                                           \
      "`nvmlDeviceGetMemoryInfo_v2` (version `nvmlMemory_v2`) total and used, else "                        \
      "`nvmlDeviceGetMemoryInfo`, whose \"used\" includes the memory the driver reserves (drivers without " \
      "the `_v2` call)", "bytes / 1024, rounded down")                                                       \
    X("temperature (+flag)", "`NvAPI_GPU_GetThermalSettings` sensor 0",                                      \
      "`nvmlDeviceGetTemperature` NVML_TEMPERATURE_GPU", "°C")                                               \
    X("powerDraw, powerLimit (+powerDrawSupported)",                                                         \
      "`nvmlDeviceGetPowerUsage` and `nvmlDeviceGetPowerManagementLimit`, both must succeed",                \
      "`nvmlDeviceGetPowerUsage` and `nvmlDeviceGetEnforcedPowerLimit`, both must succeed (the management "  \
      "limit is higher where other limits apply)", "mW")                                                     \
    X("fanLevel (+flag)", "the cooler status query, cooler 0", "`nvmlDeviceGetFanSpeed`", "percent")         \
    X("fanRpm (+flag)", "the cooler status query, where it marks the rpm valid",                             \
      "`nvmlDeviceGetFanSpeedRPM` (version `nvmlFanSpeedInfo_v1`, fan 0)", "rpm")                            \
    X("pState (+flag)", "`NvAPI_GPU_GetCurrentPstate`",                                                      \
      "`nvmlDeviceGetPerformanceState`; `NVML_PSTATE_UNKNOWN` (32) or anything above 15 counts as a failed " \
      "reading", "0..15")                                                                                    \
    X("busInterfaceLoad, coreVoltage, coreVoltageRated, driverModel",                                        \
      "`NvAPI_GPU_GetDynamicPstatesInfoEx` bus domain; the voltage status query; the first P-state's base " \
      "voltage; `nvmlDeviceGetDriverModel`", "none in NVML on Linux: flags stay 0", "")                      \
    X("tab label connector", "`NvAPI_GPU_GetConnectedDisplayIds`, the first display's connector",            \
      "none in NVML on Linux: \" (UNKNOWN 接続)\"", "") \
    X("metrics only: the `uuid` label; `gaugeline_gpu_info`'s pci_bus_id and driver_version", "`nvmlDeviceGetUUID`; `nvmlDeviceGetPciInfo_v3` busId (the older call fills only the short legacy form); `nvmlSystemGetDriverVersion`", "the same", "text; a GPU without a UUID keeps its series with uuid=\"\"") \
    X("metrics only: `gaugeline_gpu_energy_joules_total`", "`nvmlDeviceGetTotalEnergyConsumption` (Volta and later)", "the same", "mJ / 1000, since the driver loaded") \
    X("metrics only: `gaugeline_gpu_clock_event_active` by reason", "`nvmlDeviceGetSupportedClocksThrottleReasons` and `nvmlDeviceGetCurrentClocksThrottleReasons`", "`nvmlDeviceGetSupportedClocksEventReasons` and `nvmlDeviceGetCurrentClocksEventReasons`, else their older throttle-reasons names", "a series per supported reason, 0 or 1") \
    X("metrics only: `gaugeline_gpu_utilization_ratio` engines encoder and decoder", "`nvmlDeviceGetEncoderUtilization`, `nvmlDeviceGetDecoderUtilization`", "the same", "percent / 100") \
    X("metrics only: `gaugeline_gpu_ecc_errors_total` corrected and uncorrected", "`nvmlDeviceGetEccMode` on, then `nvmlDeviceGetTotalEccErrors` with `NVML_VOLATILE_ECC`", "the same", "count since the driver loaded") \
    X("metrics only: `gaugeline_gpu_xid_errors_total` by Xid", "none: NVML documents its events for Linux only, so the family is left out", "`nvmlEventSetWait_v2` on a set with `nvmlEventTypeXidCriticalError` registered, on a thread of its own (waits of 500 ms)", "count since the Agent started")
// clang-format on
