// Scenario of the simulated NVIDIA driver: which GPUs exist, how their readings
// move, which calls fail or are slow or missing. Parsed from a small line-based
// text (sim/README.md); evaluated against the seconds since the process began.
#pragma once
#include "gpu/nvapi_calls.h"

#include <cstdint>
#include <string>
#include <vector>

// NVML exports the simulated library carries, those nvml.dll answers first:
// X(entry, export name).
#define GAUGELINE_SIM_NVML_EXPORTS(X)                                                                        \
    X(NvmlInit, nvmlInit)                                                                                    \
    X(NvmlDeviceGetHandleByIndex, nvmlDeviceGetHandleByIndex)                                                \
    X(NvmlDeviceGetMemoryInfo, nvmlDeviceGetMemoryInfo)                                                      \
    X(NvmlDeviceGetPowerUsage, nvmlDeviceGetPowerUsage)                                                      \
    X(NvmlDeviceGetPowerManagementLimit, nvmlDeviceGetPowerManagementLimit)                                  \
    X(NvmlDeviceGetEnforcedPowerLimit, nvmlDeviceGetEnforcedPowerLimit)                                      \
    X(NvmlDeviceGetPciInfo, nvmlDeviceGetPciInfo)                                                            \
    X(NvmlDeviceGetDriverModel, nvmlDeviceGetDriverModel)                                                    \
    X(NvmlInitV2, nvmlInit_v2)                                                                               \
    X(NvmlShutdown, nvmlShutdown)                                                                            \
    X(NvmlDeviceGetCount, nvmlDeviceGetCount)                                                                \
    X(NvmlDeviceGetCountV2, nvmlDeviceGetCount_v2)                                                           \
    X(NvmlDeviceGetHandleByIndexV2, nvmlDeviceGetHandleByIndex_v2)                                           \
    X(NvmlDeviceGetPciInfoV2, nvmlDeviceGetPciInfo_v2)                                                       \
    X(NvmlDeviceGetPciInfoV3, nvmlDeviceGetPciInfo_v3)                                                       \
    X(NvmlDeviceGetDriverModelV2, nvmlDeviceGetDriverModel_v2)                                               \
    X(NvmlDeviceGetName, nvmlDeviceGetName)                                                                  \
    X(NvmlDeviceGetClockInfo, nvmlDeviceGetClockInfo)                                                        \
    X(NvmlDeviceGetMaxClockInfo, nvmlDeviceGetMaxClockInfo)                                                  \
    X(NvmlDeviceGetDefaultApplicationsClock, nvmlDeviceGetDefaultApplicationsClock)                          \
    X(NvmlDeviceGetUtilizationRates, nvmlDeviceGetUtilizationRates)                                          \
    X(NvmlDeviceGetEncoderUtilization, nvmlDeviceGetEncoderUtilization)                                      \
    X(NvmlDeviceGetDecoderUtilization, nvmlDeviceGetDecoderUtilization)                                      \
    X(NvmlDeviceGetMemoryInfoV2, nvmlDeviceGetMemoryInfo_v2)                                                 \
    X(NvmlDeviceGetTemperature, nvmlDeviceGetTemperature)                                                    \
    X(NvmlDeviceGetFanSpeed, nvmlDeviceGetFanSpeed)                                                          \
    X(NvmlDeviceGetFanSpeedRPM, nvmlDeviceGetFanSpeedRPM)                                                    \
    X(NvmlDeviceGetPerformanceState, nvmlDeviceGetPerformanceState)                                          \
    X(NvmlDeviceGetUUID, nvmlDeviceGetUUID)                                                                  \
    X(NvmlSystemGetDriverVersion, nvmlSystemGetDriverVersion)                                                \
    X(NvmlDeviceGetTotalEnergyConsumption, nvmlDeviceGetTotalEnergyConsumption)                              \
    X(NvmlDeviceGetSupportedClocksEventReasons, nvmlDeviceGetSupportedClocksEventReasons)                    \
    X(NvmlDeviceGetSupportedClocksThrottleReasons, nvmlDeviceGetSupportedClocksThrottleReasons)              \
    X(NvmlDeviceGetCurrentClocksEventReasons, nvmlDeviceGetCurrentClocksEventReasons)                        \
    X(NvmlDeviceGetCurrentClocksThrottleReasons, nvmlDeviceGetCurrentClocksThrottleReasons)                  \
    X(NvmlDeviceGetEccMode, nvmlDeviceGetEccMode)                                                            \
    X(NvmlDeviceGetTotalEccErrors, nvmlDeviceGetTotalEccErrors)                                              \
    X(NvmlEventSetCreate, nvmlEventSetCreate)                                                                \
    X(NvmlDeviceRegisterEvents, nvmlDeviceRegisterEvents)                                                    \
    X(NvmlEventSetWaitV2, nvmlEventSetWait_v2)                                                               \
    X(NvmlEventSetWait, nvmlEventSetWait)                                                                    \
    X(NvmlEventSetFree, nvmlEventSetFree)                                                                    \
    X(NvmlDeviceGetRunningProcessDetailList, nvmlDeviceGetRunningProcessDetailList)

// Every function the simulated driver answers, NvAPI by interface id and NVML
// by export name, plus the two hooks and the driver's own export.
enum class SimFunction : int {
#define GAUGELINE_SIM_NVAPI(entry, ...) entry,
    GAUGELINE_NVAPI_DRIVER_FUNCTIONS(GAUGELINE_SIM_NVAPI) GAUGELINE_NVAPI_CALLS(GAUGELINE_SIM_NVAPI)
        QueryInterfaceExport,
    GAUGELINE_SIM_NVML_EXPORTS(GAUGELINE_SIM_NVAPI)
#undef GAUGELINE_SIM_NVAPI
        Count
};
constexpr int kSimFunctionCount = static_cast<int>(SimFunction::Count);

struct SimFunctionInfo {
    const char* name; // NvAPI or NVML name
    uint32_t id;      // NvAPI interface id, 0 for NVML functions and the export
    bool nvml;
};
extern const SimFunctionInfo kSimFunctions[kSimFunctionCount];
inline const SimFunctionInfo& simFunctionInfo(SimFunction function) {
    return kSimFunctions[static_cast<int>(function)];
}

// By name (with or without the "NvAPI_" / "NvAPI_GPU_" prefix, any case) or by
// interface id written in hexadecimal ("0xCEEE8E9F"); -1 when unknown.
int findSimFunction(const std::string& token);
int findSimFunctionById(uint32_t id);

enum class SimReading : int {
    GraphicsClock, // kHz
    MemoryClock,
    ProcessorClock,
    VideoClock,
    GraphicsClockBase,
    MemoryClockBase,
    ProcessorClockBase,
    VideoClockBase,
    GraphicsClockBoost,
    MemoryClockBoost,
    ProcessorClockBoost,
    VideoClockBoost,
    GpuLoad, // percent
    MemoryControllerLoad,
    VideoEngineLoad,
    BusInterfaceLoad,
    Temperature, // degrees C
    MemoryTotal, // KiB
    MemoryUsed,  // KiB
    FanLevel,    // percent
    FanRpm,
    CoreVoltage, // microvolts
    BaseVoltage, // microvolts, first base voltage of P0
    PowerDraw,   // milliwatts
    PowerLimit,
    Pstate,               // 0..15
    EncoderLoad,          // percent; not given: the video engine load
    DecoderLoad,          // percent
    PowerManagementLimit, // milliwatts; not given: the (enforced) power limit
    Energy,               // millijoules since the driver loaded; not given: not supported
    ClockEventsSupported, // reason bits; not given: clock event reasons not supported
    ClockEventsActive,
    EccCorrected, // volatile counts; neither given: ECC not supported
    EccUncorrected,
    Count
};
constexpr int kSimReadingCount = static_cast<int>(SimReading::Count);
extern const char* const kSimReadingNames[kSimReadingCount];

enum class ReadingKind { Constant, Ramp, Wave };

// Constant: a. Ramp: a + b * t, held at c when hasLimit. Wave: between a (low)
// and b (high), period c seconds, phase d seconds (a later phase lags).
struct ReadingModel {
    ReadingKind kind = ReadingKind::Constant;
    double a = 0, b = 0, c = 0, d = 0;
    bool hasLimit = false;
    bool given = false; // written in the scenario, not a default
};
double evaluateReading(const ReadingModel& model, double seconds);
// Rounded and clamped to [low, high].
int64_t readingValue(const ReadingModel& model, double seconds, int64_t low, int64_t high);

// Records whose version words a GPU checks.
enum class SimRecord : int {
    Clocks,
    Pstates,
    Thermal,
    Memory,
    Cooler,
    Dynamic,
    DisplayIds,
    Voltage,
    Usage,
    Count
};
constexpr int kSimRecordCount = static_cast<int>(SimRecord::Count);
extern const char* const kSimRecordNames[kSimRecordCount];
// The version words a real driver accepts for each record.
const std::vector<uint32_t>& defaultRecordVersions(SimRecord record);

constexpr int kSimMaxGpus = 64;
constexpr int kSimNameMax = 63; // bytes, as the 64-byte name buffer allows

// A critical Xid event the driver raises at a time.
struct SimXid {
    uint64_t xid = 0;
    double at = 0; // seconds
};

// A process using a GPU, as the driver lists it.
struct SimProcess {
    uint32_t pid = 0; // 0: the process that loaded the simulated driver
    bool graphics = false;
    uint64_t bytes = 0;
    bool known = true; // false: the driver cannot tell its memory
};

struct SimGpu {
    int index = 0;    // as the scenario numbers it
    std::string uuid; // empty: "GPU-00000000-0000-4000-8000-0000000000NN" by index
    bool tcc = false;
    std::string name = "Example GPU";
    uint32_t bus = 1;
    int32_t connector = 7; // NV_MONITOR_CONN_TYPE
    uint32_t displays = 1;
    int32_t driverModel = -1; // -1: 1 for TCC, 0 otherwise
    uint32_t domainMask = (1u << 0) | (1u << 4) | (1u << 7) | (1u << 8);
    uint32_t coolers = 1;
    bool rpmFlag = true;
    uint32_t pstates = 3;
    std::vector<uint32_t> accepts[kSimRecordCount]; // empty: defaultRecordVersions
    ReadingModel readings[kSimReadingCount];
    double lostAt = -1;                   // seconds; below 0: never lost
    double hangFrom = 0, hangSeconds = 0; // device calls in this window wait for its end
    std::vector<SimXid> xids;
    std::vector<SimProcess> processes;
};
inline const ReadingModel& modelOf(const SimGpu& gpu, SimReading which) {
    return gpu.readings[static_cast<int>(which)];
}
SimGpu defaultSimGpu(int index);
// The encoder load as NVML reports it: the video engine load unless the scenario gives one.
const ReadingModel& encoderLoadModel(const SimGpu& gpu);
// The power management limit: the enforced limit unless the scenario gives one.
const ReadingModel& powerManagementLimitModel(const SimGpu& gpu);
bool gpuLostAt(const SimGpu& gpu, double seconds);
std::string gpuUuid(const SimGpu& gpu);
// Seconds a device call made at this time waits for the GPU's hang to end (0: none).
double gpuHangWait(const SimGpu& gpu, double seconds);
bool gpuAcceptsVersion(const SimGpu& gpu, SimRecord record, uint32_t version);
int32_t gpuDriverModel(const SimGpu& gpu);

struct FailRule {
    SimFunction function = SimFunction::Count;
    int gpu = -1;      // scenario GPU index, or -1 for any
    int selector = -1; // clock type, sensor or cooler index; -1 for any
    uint32_t from = 1; // pass numbers, counted per function from 1
    uint32_t until = UINT32_MAX;
    bool hasStatus = false;
    int32_t status = 0;
};

struct DelayRule {
    SimFunction function = SimFunction::Count;
    int gpu = -1;
    uint32_t ms = 0;
};

struct ScenarioError {
    int line = 0;
    std::string message;
};

struct Scenario {
    std::vector<SimGpu> gpus; // ordered by index
    std::vector<FailRule> fails;
    std::vector<DelayRule> delays;
    bool omitted[kSimFunctionCount] = {};
    bool entryHook = true;
    bool exitHook = true;
    bool fixedTime = false;
    double fixedSeconds = 0;
    bool noGpus = false;
    std::string driverVersion = "535.183.01";
    std::vector<ScenarioError> errors;
};

// One default GPU, used when no scenario file is named.
Scenario defaultScenario();
// Lines that cannot be understood are skipped whole and listed in errors; the
// rest of the file still applies. A file without gpu lines has the one default
// GPU; the line "nogpus" gives none.
Scenario parseScenario(const std::string& text);

// Status a call gets from the fail rules for its pass, or false to go on.
bool failStatus(const Scenario& scenario, SimFunction function, int gpu, int selector, uint32_t pass,
                int32_t& status);
uint32_t delayMs(const Scenario& scenario, SimFunction function, int gpu);

// The GPUs in the order the driver lists them: physical ones, then TCC ones.
std::vector<int> physicalGpuOrder(const Scenario& scenario);
std::vector<int> tccGpuOrder(const Scenario& scenario);
// NVML numbers them by PCI bus (ties in the driver's order), as the real library does.
std::vector<int> nvmlGpuOrder(const Scenario& scenario);

// A scenario path as Windows opens it: a Unix path goes through Wine's Z: drive.
std::string scenarioPathForWindows(const std::string& path);
