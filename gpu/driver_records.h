// NVIDIA driver records, status codes and interface ids as the driver lays them
// out on x64 (NvAPI packs to 8, every record has natural alignment). Our own
// declarations; the size checks below pin every layout the system relies on.
#pragma once
#include <cstddef>
#include <cstdint>

#if defined(_WIN32)
#define NVAPI_CALL __cdecl
#else
#define NVAPI_CALL
#endif

// ---------------------------------------------------------------- NvAPI basics
using NvAPI_Status = int32_t;

constexpr NvAPI_Status NVAPI_OK = 0;
constexpr NvAPI_Status NVAPI_ERROR = -1;
constexpr NvAPI_Status NVAPI_LIBRARY_NOT_FOUND = -2;
constexpr NvAPI_Status NVAPI_NO_IMPLEMENTATION = -3;
constexpr NvAPI_Status NVAPI_API_NOT_INITIALIZED = -4;
constexpr NvAPI_Status NVAPI_INVALID_ARGUMENT = -5;
constexpr NvAPI_Status NVAPI_NVIDIA_DEVICE_NOT_FOUND = -6;
constexpr NvAPI_Status NVAPI_END_ENUMERATION = -7;
constexpr NvAPI_Status NVAPI_INVALID_HANDLE = -8;
constexpr NvAPI_Status NVAPI_INCOMPATIBLE_STRUCT_VERSION = -9;
constexpr NvAPI_Status NVAPI_HANDLE_INVALIDATED = -10;
constexpr NvAPI_Status NVAPI_INVALID_POINTER = -14;
constexpr NvAPI_Status NVAPI_EXPECTED_PHYSICAL_GPU_HANDLE = -101;
constexpr NvAPI_Status NVAPI_NOT_SUPPORTED = -104;
constexpr NvAPI_Status NVAPI_DATA_NOT_FOUND = -121;
constexpr NvAPI_Status NVAPI_FUNCTION_NOT_FOUND = -136;
constexpr NvAPI_Status NVAPI_INVALID_USER_PRIVILEGE = -137;

struct NvPhysicalGpuHandleOpaque;
using NvPhysicalGpuHandle = NvPhysicalGpuHandleOpaque*;

constexpr uint32_t NVAPI_MAX_PHYSICAL_GPUS = 64;
constexpr uint32_t NVAPI_SHORT_STRING_MAX = 64;
using NvAPI_ShortString = char[NVAPI_SHORT_STRING_MAX];

// Version word of an NvAPI record: size in the low 16 bits, version above.
constexpr uint32_t nvapiVersion(uint32_t size, uint32_t version) {
    return size | (version << 16);
}
constexpr uint32_t nvapiVersionSize(uint32_t word) {
    return word & 0xFFFFu;
}
constexpr uint32_t nvapiVersionNumber(uint32_t word) {
    return word >> 16;
}

// The driver's one export and the shapes of the functions it hands out.
using NvAPI_QueryInterfaceFn = void*(NVAPI_CALL*)(uint32_t id);
using NvAPI_VoidFn = NvAPI_Status(NVAPI_CALL*)();
using NvAPI_EntryHookFn = NvAPI_Status(NVAPI_CALL*)(uint32_t id, uint64_t* cookie);
using NvAPI_ExitHookFn = NvAPI_Status(NVAPI_CALL*)(uint32_t id, uint64_t cookie, NvAPI_Status status);

// ---------------------------------------------------------------- clock frequencies
constexpr uint32_t NVAPI_MAX_GPU_PUBLIC_CLOCKS = 32;
constexpr uint32_t NVAPI_GPU_PUBLIC_CLOCK_GRAPHICS = 0;
constexpr uint32_t NVAPI_GPU_PUBLIC_CLOCK_MEMORY = 4;
constexpr uint32_t NVAPI_GPU_PUBLIC_CLOCK_PROCESSOR = 7;
constexpr uint32_t NVAPI_GPU_PUBLIC_CLOCK_VIDEO = 8;
constexpr uint32_t NV_GPU_CLOCK_FREQUENCIES_CURRENT_FREQ = 0;
constexpr uint32_t NV_GPU_CLOCK_FREQUENCIES_BASE_CLOCK = 1;
constexpr uint32_t NV_GPU_CLOCK_FREQUENCIES_BOOST_CLOCK = 2;

struct NV_GPU_CLOCK_DOMAIN {
    uint32_t bIsPresent; // bit 0; the rest reserved
    uint32_t frequency;  // kHz
};

struct NV_GPU_CLOCK_FREQUENCIES {
    uint32_t version;
    uint32_t clockType;                                      // bits 0-3 (V2/V3); reserved in V1
    NV_GPU_CLOCK_DOMAIN domain[NVAPI_MAX_GPU_PUBLIC_CLOCKS]; // indexed by clock id
};
static_assert(sizeof(NV_GPU_CLOCK_FREQUENCIES) == 264, "clock frequencies record");
static_assert(offsetof(NV_GPU_CLOCK_FREQUENCIES, domain) == 8, "clock domains");
constexpr uint32_t NV_GPU_CLOCK_FREQUENCIES_VER_1 = nvapiVersion(264, 1);
constexpr uint32_t NV_GPU_CLOCK_FREQUENCIES_VER_2 = nvapiVersion(264, 2);
constexpr uint32_t NV_GPU_CLOCK_FREQUENCIES_VER_3 = nvapiVersion(264, 3);
static_assert(NV_GPU_CLOCK_FREQUENCIES_VER_3 == 0x30108, "clock version word");

// ---------------------------------------------------------------- P-states 2.0
constexpr uint32_t NVAPI_MAX_GPU_PSTATE20_PSTATES = 16;
constexpr uint32_t NVAPI_MAX_GPU_PSTATE20_CLOCKS = 8;
constexpr uint32_t NVAPI_MAX_GPU_PSTATE20_BASE_VOLTAGES = 4;
constexpr uint32_t NVAPI_GPU_PERF_PSTATE20_CLOCK_TYPE_SINGLE = 0;
constexpr uint32_t NVAPI_GPU_PERF_PSTATE20_CLOCK_TYPE_RANGE = 1;

struct NV_GPU_PERF_PSTATES20_PARAM_DELTA {
    int32_t value;
    int32_t min;
    int32_t max;
};

struct NV_GPU_PSTATE20_CLOCK_ENTRY_V1 {
    uint32_t domainId; // public clock id
    uint32_t typeId;   // SINGLE or RANGE
    uint32_t flags;    // bit 0: editable
    NV_GPU_PERF_PSTATES20_PARAM_DELTA freqDelta_kHz;
    union {
        struct {
            uint32_t freq_kHz;
        } single;
        struct {
            uint32_t minFreq_kHz;
            uint32_t maxFreq_kHz;
            uint32_t domainId; // voltage domain, 0 = core
            uint32_t minVoltage_uV;
            uint32_t maxVoltage_uV;
        } range;
    } data;
};
static_assert(sizeof(NV_GPU_PSTATE20_CLOCK_ENTRY_V1) == 44, "P-state clock entry");
static_assert(offsetof(NV_GPU_PSTATE20_CLOCK_ENTRY_V1, data) == 24, "P-state clock frequency");

struct NV_GPU_PSTATE20_BASE_VOLTAGE_ENTRY_V1 {
    uint32_t domainId; // voltage domain, 0 = core
    uint32_t flags;
    uint32_t volt_uV;
    NV_GPU_PERF_PSTATES20_PARAM_DELTA voltDelta_uV;
};
static_assert(sizeof(NV_GPU_PSTATE20_BASE_VOLTAGE_ENTRY_V1) == 24, "base voltage entry");

struct NV_GPU_PSTATE20_ENTRY {
    uint32_t pstateId; // 0..15
    uint32_t flags;
    NV_GPU_PSTATE20_CLOCK_ENTRY_V1 clocks[NVAPI_MAX_GPU_PSTATE20_CLOCKS];
    NV_GPU_PSTATE20_BASE_VOLTAGE_ENTRY_V1 baseVoltages[NVAPI_MAX_GPU_PSTATE20_BASE_VOLTAGES];
};
static_assert(sizeof(NV_GPU_PSTATE20_ENTRY) == 456, "P-state entry");
static_assert(offsetof(NV_GPU_PSTATE20_ENTRY, baseVoltages) == 360, "P-state base voltages");

struct NV_GPU_PERF_PSTATES20_INFO_V1 {
    uint32_t version;
    uint32_t flags;
    uint32_t numPstates;
    uint32_t numClocks;
    uint32_t numBaseVoltages;
    NV_GPU_PSTATE20_ENTRY pstates[NVAPI_MAX_GPU_PSTATE20_PSTATES];
};
static_assert(sizeof(NV_GPU_PERF_PSTATES20_INFO_V1) == 7316, "P-states 2.0 V1");
static_assert(offsetof(NV_GPU_PERF_PSTATES20_INFO_V1, pstates) == 20, "P-state table");

struct NV_GPU_PERF_PSTATES20_INFO_V2 {
    uint32_t version;
    uint32_t flags;
    uint32_t numPstates;
    uint32_t numClocks;
    uint32_t numBaseVoltages;
    NV_GPU_PSTATE20_ENTRY pstates[NVAPI_MAX_GPU_PSTATE20_PSTATES];
    struct {
        uint32_t numVoltages;
        NV_GPU_PSTATE20_BASE_VOLTAGE_ENTRY_V1 voltages[NVAPI_MAX_GPU_PSTATE20_BASE_VOLTAGES];
    } ov;
};
static_assert(sizeof(NV_GPU_PERF_PSTATES20_INFO_V2) == 7416, "P-states 2.0 V2");
static_assert(offsetof(NV_GPU_PERF_PSTATES20_INFO_V2, ov) == 7316, "P-states 2.0 overvolting block");
static_assert(offsetof(NV_GPU_PERF_PSTATES20_INFO_V2, pstates[1].baseVoltages[0].volt_uV) == 388 + 456,
              "base voltage offset");

// The larger layout serves every version; V1 callers use only its first 7316 bytes.
using NV_GPU_PERF_PSTATES20_INFO = NV_GPU_PERF_PSTATES20_INFO_V2;
constexpr uint32_t NV_GPU_PERF_PSTATES20_INFO_VER1 = nvapiVersion(7316, 1);
constexpr uint32_t NV_GPU_PERF_PSTATES20_INFO_VER2 = nvapiVersion(7416, 2);
constexpr uint32_t NV_GPU_PERF_PSTATES20_INFO_VER3 = nvapiVersion(7416, 3);
static_assert(NV_GPU_PERF_PSTATES20_INFO_VER1 == 0x11C94 && NV_GPU_PERF_PSTATES20_INFO_VER3 == 0x31CF8,
              "P-states version words");

// ---------------------------------------------------------------- performance state
constexpr uint32_t NVAPI_GPU_PERF_PSTATE_UNDEFINED = 16;
using NV_GPU_PERF_PSTATE_ID = uint32_t;

// ---------------------------------------------------------------- thermal settings
constexpr uint32_t NVAPI_MAX_THERMAL_SENSORS_PER_GPU = 3;
constexpr uint32_t NVAPI_THERMAL_TARGET_NONE = 0;
constexpr uint32_t NVAPI_THERMAL_TARGET_GPU = 1;
constexpr uint32_t NVAPI_THERMAL_TARGET_ALL = 15;

struct NV_GPU_THERMAL_SENSOR {
    uint32_t controller;
    int32_t defaultMinTemp; // unsigned in V1, signed in V2; degrees C
    int32_t defaultMaxTemp;
    int32_t currentTemp;
    uint32_t target;
};

struct NV_GPU_THERMAL_SETTINGS {
    uint32_t version;
    uint32_t count;
    NV_GPU_THERMAL_SENSOR sensor[NVAPI_MAX_THERMAL_SENSORS_PER_GPU];
};
static_assert(sizeof(NV_GPU_THERMAL_SETTINGS) == 68, "thermal settings");
static_assert(offsetof(NV_GPU_THERMAL_SETTINGS, sensor[0].currentTemp) == 20, "first sensor temperature");
constexpr uint32_t NV_GPU_THERMAL_SETTINGS_VER_1 = nvapiVersion(68, 1);
constexpr uint32_t NV_GPU_THERMAL_SETTINGS_VER_2 = nvapiVersion(68, 2);

// ---------------------------------------------------------------- memory information (KB)
struct NV_DISPLAY_DRIVER_MEMORY_INFO_V1 {
    uint32_t version;
    uint32_t dedicatedVideoMemory;
    uint32_t availableDedicatedVideoMemory;
    uint32_t systemVideoMemory;
    uint32_t sharedSystemMemory;
};
static_assert(sizeof(NV_DISPLAY_DRIVER_MEMORY_INFO_V1) == 20, "memory info V1");

struct NV_DISPLAY_DRIVER_MEMORY_INFO_V2 {
    uint32_t version;
    uint32_t dedicatedVideoMemory;
    uint32_t availableDedicatedVideoMemory;
    uint32_t systemVideoMemory;
    uint32_t sharedSystemMemory;
    uint32_t curAvailableDedicatedVideoMemory;
};
static_assert(sizeof(NV_DISPLAY_DRIVER_MEMORY_INFO_V2) == 24, "memory info V2");
static_assert(offsetof(NV_DISPLAY_DRIVER_MEMORY_INFO_V2, curAvailableDedicatedVideoMemory) == 20,
              "current available memory");

using NV_DISPLAY_DRIVER_MEMORY_INFO = NV_DISPLAY_DRIVER_MEMORY_INFO_V2;
constexpr uint32_t NV_DISPLAY_DRIVER_MEMORY_INFO_VER_1 = nvapiVersion(20, 1);
constexpr uint32_t NV_DISPLAY_DRIVER_MEMORY_INFO_VER_2 = nvapiVersion(24, 2);
static_assert(NV_DISPLAY_DRIVER_MEMORY_INFO_VER_1 == 0x10014 &&
                  NV_DISPLAY_DRIVER_MEMORY_INFO_VER_2 == 0x20018,
              "memory info version words");

// ---------------------------------------------------------------- engine utilisation
constexpr uint32_t NVAPI_MAX_GPU_UTILIZATIONS = 8;
constexpr uint32_t NVAPI_GPU_UTILIZATION_DOMAIN_GPU = 0;
constexpr uint32_t NVAPI_GPU_UTILIZATION_DOMAIN_FB = 1;
constexpr uint32_t NVAPI_GPU_UTILIZATION_DOMAIN_VID = 2;
constexpr uint32_t NVAPI_GPU_UTILIZATION_DOMAIN_BUS = 3;

struct NV_GPU_DYNAMIC_PSTATES_INFO_EX {
    uint32_t version;
    uint32_t flags; // bit 0: dynamic P-state enabled
    struct {
        uint32_t bIsPresent; // bit 0
        uint32_t percentage;
    } utilization[NVAPI_MAX_GPU_UTILIZATIONS];
};
static_assert(sizeof(NV_GPU_DYNAMIC_PSTATES_INFO_EX) == 72, "dynamic P-states info");
static_assert(offsetof(NV_GPU_DYNAMIC_PSTATES_INFO_EX, utilization[1].percentage) == 20,
              "utilisation percent");
constexpr uint32_t NV_GPU_DYNAMIC_PSTATES_INFO_EX_VER = nvapiVersion(72, 1);

// ---------------------------------------------------------------- connected displays
constexpr int32_t NV_MONITOR_CONN_TYPE_UNINITIALIZED = 0;
constexpr int32_t NV_MONITOR_CONN_TYPE_VGA = 1;
constexpr int32_t NV_MONITOR_CONN_TYPE_COMPONENT = 2;
constexpr int32_t NV_MONITOR_CONN_TYPE_SVIDEO = 3;
constexpr int32_t NV_MONITOR_CONN_TYPE_HDMI = 4;
constexpr int32_t NV_MONITOR_CONN_TYPE_DVI = 5;
constexpr int32_t NV_MONITOR_CONN_TYPE_LVDS = 6;
constexpr int32_t NV_MONITOR_CONN_TYPE_DP = 7;
constexpr int32_t NV_MONITOR_CONN_TYPE_COMPOSITE = 8;
constexpr int32_t NV_MONITOR_CONN_TYPE_UNKNOWN = -1;

constexpr uint32_t NV_GPU_DISPLAYIDS_FLAG_CONNECTED = 1u << 6;
constexpr uint32_t NV_GPU_DISPLAYIDS_FLAG_PHYSICALLY_CONNECTED = 1u << 17;

struct NV_GPU_DISPLAYIDS {
    uint32_t version;
    int32_t connectorType; // NV_MONITOR_CONN_TYPE
    uint32_t displayId;
    uint32_t flags; // bit 6: connected
};
static_assert(sizeof(NV_GPU_DISPLAYIDS) == 16, "display id entry");
constexpr uint32_t NV_GPU_DISPLAYIDS_VER1 = nvapiVersion(16, 1);
constexpr uint32_t NV_GPU_DISPLAYIDS_VER2 = nvapiVersion(16, 3);

// ---------------------------------------------------------------- undocumented records
// Only the bytes the system reads are named; the rest is reserved.
struct CoolerStatusRecord {
    uint32_t version;
    uint32_t coolerCount; // readings are valid only when nonzero
    uint8_t reserved0[24];
    uint32_t currentLevel; // percent, first cooler
    uint8_t reserved1[20];
    uint32_t currentRpm; // first cooler
    uint8_t rpmValid;    // nonzero when currentRpm holds a reading
    uint8_t reserved2[1307];
};
static_assert(sizeof(CoolerStatusRecord) == 1368, "cooler record");
static_assert(offsetof(CoolerStatusRecord, coolerCount) == 4, "cooler count");
static_assert(offsetof(CoolerStatusRecord, currentLevel) == 32, "cooler level");
static_assert(offsetof(CoolerStatusRecord, currentRpm) == 56, "cooler rpm");
static_assert(offsetof(CoolerStatusRecord, rpmValid) == 60, "cooler rpm flag");
constexpr uint32_t kCoolerRecordBytes = 1368;
constexpr uint32_t kCoolerStatusVersions[5] = {0x40558, 0x30508, 0x203C8, 0x103C8, 0x10098};

struct VoltageStatusRecord {
    uint32_t version;
    uint8_t reserved0[12];
    uint32_t value_uV; // current core voltage
    uint8_t reserved1[120];
};
static_assert(sizeof(VoltageStatusRecord) == 140, "voltage status record");
static_assert(offsetof(VoltageStatusRecord, value_uV) == 16, "voltage value");
constexpr uint32_t kVoltageStatusVersion = nvapiVersion(140, 1);
static_assert(kVoltageStatusVersion == 0x1008C, "voltage version word");

struct GpuUsageRecord {
    uint32_t version;
    uint8_t reserved0[8];
    uint32_t gpuUsage; // percent
    uint8_t reserved1[120];
};
static_assert(sizeof(GpuUsageRecord) == 136, "usage record");
static_assert(offsetof(GpuUsageRecord, gpuUsage) == 12, "usage value");
constexpr uint32_t kGpuUsageVersion = nvapiVersion(136, 1);
static_assert(kGpuUsageVersion == 0x10088, "usage version word");

using NvAPI_EnumGpusFn = NvAPI_Status(NVAPI_CALL*)(NvPhysicalGpuHandle* handles, uint32_t* count);
using NvAPI_GpuUsageFn = NvAPI_Status(NVAPI_CALL*)(NvPhysicalGpuHandle handle, GpuUsageRecord* record);

// ---------------------------------------------------------------- NVML
using nvmlReturn_t = int32_t;
constexpr nvmlReturn_t NVML_SUCCESS = 0;
constexpr nvmlReturn_t NVML_ERROR_UNINITIALIZED = 1;
constexpr nvmlReturn_t NVML_ERROR_INVALID_ARGUMENT = 2;
constexpr nvmlReturn_t NVML_ERROR_NOT_SUPPORTED = 3;
constexpr nvmlReturn_t NVML_ERROR_NO_PERMISSION = 4;
constexpr nvmlReturn_t NVML_ERROR_ALREADY_INITIALIZED = 5;
constexpr nvmlReturn_t NVML_ERROR_NOT_FOUND = 6;
constexpr nvmlReturn_t NVML_ERROR_INSUFFICIENT_SIZE = 7;
constexpr nvmlReturn_t NVML_ERROR_DRIVER_NOT_LOADED = 9;
constexpr nvmlReturn_t NVML_ERROR_TIMEOUT = 10;
constexpr nvmlReturn_t NVML_ERROR_LIBRARY_NOT_FOUND = 12;
constexpr nvmlReturn_t NVML_ERROR_FUNCTION_NOT_FOUND = 13;
constexpr nvmlReturn_t NVML_ERROR_GPU_IS_LOST = 15;
constexpr nvmlReturn_t NVML_ERROR_ARGUMENT_VERSION_MISMATCH = 25;
constexpr nvmlReturn_t NVML_ERROR_UNKNOWN = 999;

struct nvmlDeviceOpaque;
using nvmlDevice_t = nvmlDeviceOpaque*;

using nvmlDriverModel_t = int32_t;
constexpr nvmlDriverModel_t NVML_DRIVER_WDDM = 0;
constexpr nvmlDriverModel_t NVML_DRIVER_WDM = 1;
constexpr nvmlDriverModel_t NVML_DRIVER_MCDM = 2;

struct nvmlMemory_t {
    uint64_t total; // bytes
    uint64_t free;
    uint64_t used;
};
static_assert(sizeof(nvmlMemory_t) == 24, "NVML memory record");

struct nvmlPciInfo_t {
    char busIdLegacy[16];
    uint32_t domain;
    uint32_t bus;
    uint32_t device;
    uint32_t pciDeviceId;
    uint32_t pciSubSystemId;
    char busId[32];
};
static_assert(sizeof(nvmlPciInfo_t) == 68, "NVML PCI record");
static_assert(offsetof(nvmlPciInfo_t, bus) == 20, "NVML PCI bus");
constexpr uint32_t kNvmlPciInfoV1Bytes = 52; // what the oldest entry point fills

// Records and enums that only the NVML-only (Linux) source reads.
constexpr uint32_t nvmlStructVersion(uint32_t size, uint32_t version) {
    return size | (version << 24);
}

struct nvmlMemory_v2_t {
    uint32_t version;
    uint64_t total; // bytes
    uint64_t reserved;
    uint64_t free;
    uint64_t used;
};
static_assert(sizeof(nvmlMemory_v2_t) == 40, "NVML memory record v2");
constexpr uint32_t nvmlMemory_v2 = nvmlStructVersion(sizeof(nvmlMemory_v2_t), 2);
static_assert(nvmlMemory_v2 == 0x02000028, "NVML memory v2 version word");

struct nvmlUtilization_t {
    uint32_t gpu; // percent over the last sample period
    uint32_t memory;
};
static_assert(sizeof(nvmlUtilization_t) == 8, "NVML utilisation record");

struct nvmlFanSpeedInfo_t {
    uint32_t version;
    uint32_t fan;   // fan index, in
    uint32_t speed; // RPM, out
};
static_assert(sizeof(nvmlFanSpeedInfo_t) == 12, "NVML fan speed record");
constexpr uint32_t nvmlFanSpeedInfo_v1 = nvmlStructVersion(sizeof(nvmlFanSpeedInfo_t), 1);
static_assert(nvmlFanSpeedInfo_v1 == 0x0100000C, "NVML fan speed version word");

using nvmlClockType_t = int32_t;
constexpr nvmlClockType_t NVML_CLOCK_GRAPHICS = 0;
constexpr nvmlClockType_t NVML_CLOCK_SM = 1;
constexpr nvmlClockType_t NVML_CLOCK_MEM = 2;
constexpr nvmlClockType_t NVML_CLOCK_VIDEO = 3;

using nvmlTemperatureSensors_t = int32_t;
constexpr nvmlTemperatureSensors_t NVML_TEMPERATURE_GPU = 0;

using nvmlPstates_t = int32_t; // 0..15 = P0..P15
constexpr nvmlPstates_t NVML_PSTATE_UNKNOWN = 32;

constexpr uint32_t NVML_DEVICE_NAME_V2_BUFFER_SIZE = 96;

// Identity, health and events (nvml.h, API 11 and later).
constexpr uint32_t NVML_DEVICE_UUID_V2_BUFFER_SIZE = 96;
constexpr uint32_t NVML_SYSTEM_DRIVER_VERSION_BUFFER_SIZE = 80;

using nvmlEnableState_t = int32_t;
constexpr nvmlEnableState_t NVML_FEATURE_DISABLED = 0;
constexpr nvmlEnableState_t NVML_FEATURE_ENABLED = 1;

using nvmlMemoryErrorType_t = int32_t;
constexpr nvmlMemoryErrorType_t NVML_MEMORY_ERROR_TYPE_CORRECTED = 0;
constexpr nvmlMemoryErrorType_t NVML_MEMORY_ERROR_TYPE_UNCORRECTED = 1;
using nvmlEccCounterType_t = int32_t;
constexpr nvmlEccCounterType_t NVML_VOLATILE_ECC = 0; // reset each time the driver loads

// Clock event (formerly "clocks throttle") reason bits.
constexpr uint64_t nvmlClocksEventReasonGpuIdle = 0x1;
constexpr uint64_t nvmlClocksEventReasonApplicationsClocksSetting = 0x2;
constexpr uint64_t nvmlClocksEventReasonSwPowerCap = 0x4;
constexpr uint64_t nvmlClocksThrottleReasonHwSlowdown = 0x8;
constexpr uint64_t nvmlClocksEventReasonSyncBoost = 0x10;
constexpr uint64_t nvmlClocksEventReasonSwThermalSlowdown = 0x20;
constexpr uint64_t nvmlClocksThrottleReasonHwThermalSlowdown = 0x40;
constexpr uint64_t nvmlClocksThrottleReasonHwPowerBrakeSlowdown = 0x80;
constexpr uint64_t nvmlClocksEventReasonDisplayClockSetting = 0x100;

struct nvmlEventSetOpaque;
using nvmlEventSet_t = nvmlEventSetOpaque*;
constexpr uint64_t nvmlEventTypeXidCriticalError = 0x8;

struct nvmlEventData_t {
    nvmlDevice_t device;
    uint64_t eventType;
    uint64_t eventData; // the Xid for nvmlEventTypeXidCriticalError (999: unknown)
    uint32_t gpuInstanceId;
    uint32_t computeInstanceId;
};
static_assert(sizeof(nvmlEventData_t) == 32, "NVML event record");

// The running processes of a GPU, by mode. Debian's nvml.h (API 11) has no
// such call: these follow NVIDIA's NVML API Reference (API 12 and later,
// "nvmlProcessDetailList_v1_t" and "nvmlProcessDetail_v1_t",
// docs.nvidia.com/deploy/nvml-api). The record carries its version word,
// unlike the older _v3 lists, whose entry size changed within one branch.
struct nvmlProcessDetail_v1_t {
    uint32_t pid;
    uint64_t usedGpuMemory; // bytes; NVML_VALUE_NOT_AVAILABLE where the driver cannot tell (WDDM)
    uint32_t gpuInstanceId;
    uint32_t computeInstanceId;
    uint64_t usedGpuCcProtectedMemory;
};
static_assert(sizeof(nvmlProcessDetail_v1_t) == 32, "NVML process record");
struct nvmlProcessDetailList_v1_t {
    uint32_t version;
    uint32_t mode; // NVML_PROCESS_MODE_*
    uint32_t
        numProcArrayEntries; // in: entries of procArray; out: processes (all of them on INSUFFICIENT_SIZE)
    nvmlProcessDetail_v1_t* procArray;
};
static_assert(sizeof(nvmlProcessDetailList_v1_t) == 24, "NVML process list record");
constexpr uint32_t nvmlProcessDetailList_v1 = nvmlStructVersion(sizeof(nvmlProcessDetailList_v1_t), 1);
static_assert(nvmlProcessDetailList_v1 == 0x01000018, "NVML process list version word");
constexpr uint32_t NVML_PROCESS_MODE_COMPUTE = 0;
constexpr uint32_t NVML_PROCESS_MODE_GRAPHICS = 1;
constexpr uint64_t NVML_VALUE_NOT_AVAILABLE = ~uint64_t{0};
