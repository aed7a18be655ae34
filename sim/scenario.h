// Scenario of the simulated NVIDIA driver: which GPUs exist, how their readings
// move, which calls fail or are slow or missing. Parsed from a small line-based
// text (sim/README.md); evaluated against the seconds since the process began.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// Every function the simulated driver answers, NvAPI by interface id and NVML
// by export name, plus the two hooks and the driver's own export.
enum SimFunction : int {
    kSimNvapiInitialize,
    kSimNvapiUnload,
    kSimEnumPhysicalGPUs,
    kSimEnumTCCPhysicalGPUs,
    kSimGetFullName,
    kSimGetBusId,
    kSimGetAllClockFrequencies,
    kSimGetPstates20,
    kSimGetCurrentPstate,
    kSimGetDynamicPstatesInfoEx,
    kSimGetThermalSettings,
    kSimGetMemoryInfo,
    kSimGetPhysicalFrameBufferSize,
    kSimGetConnectedDisplayIds,
    kSimQueryCoolerStatus,
    kSimQueryVoltageStatus,
    kSimGpuUsageQuery,
    kSimEntryHook,
    kSimExitHook,
    kSimQueryInterfaceExport,
    kSimNvmlInit,
    kSimNvmlInitV2,
    kSimNvmlShutdown,
    kSimNvmlDeviceGetCount,
    kSimNvmlDeviceGetCountV2,
    kSimNvmlDeviceGetHandleByIndex,
    kSimNvmlDeviceGetHandleByIndexV2,
    kSimNvmlDeviceGetMemoryInfo,
    kSimNvmlDeviceGetPowerUsage,
    kSimNvmlDeviceGetPowerManagementLimit,
    kSimNvmlDeviceGetPciInfo,
    kSimNvmlDeviceGetPciInfoV2,
    kSimNvmlDeviceGetPciInfoV3,
    kSimNvmlDeviceGetDriverModel,
    kSimNvmlDeviceGetDriverModelV2,
    kSimFunctionCount
};

struct SimFunctionInfo {
    const char* name; // NvAPI or NVML name
    uint32_t id;      // NvAPI interface id, 0 for NVML functions and the export
    bool nvml;
};
extern const SimFunctionInfo kSimFunctions[kSimFunctionCount];

// By name (with or without the "NvAPI_" / "NvAPI_GPU_" prefix, any case) or by
// interface id written in hexadecimal ("0xCEEE8E9F"); -1 when unknown.
int findSimFunction(const std::string& token);
int findSimFunctionById(uint32_t id);

enum SimReading : int {
    kGraphicsClock, // kHz
    kMemoryClock,
    kProcessorClock,
    kVideoClock,
    kGraphicsClockBase,
    kMemoryClockBase,
    kProcessorClockBase,
    kVideoClockBase,
    kGraphicsClockBoost,
    kMemoryClockBoost,
    kProcessorClockBoost,
    kVideoClockBoost,
    kGpuLoad, // percent
    kMemoryControllerLoad,
    kVideoEngineLoad,
    kBusInterfaceLoad,
    kTemperature, // degrees C
    kMemoryTotal, // KiB
    kMemoryUsed,  // KiB
    kFanLevel,    // percent
    kFanRpm,
    kCoreVoltage, // microvolts
    kBaseVoltage, // microvolts, first base voltage of P0
    kPowerDraw,   // milliwatts
    kPowerLimit,
    kPstate, // 0..15
    kSimReadingCount
};
extern const char* const kSimReadingNames[kSimReadingCount];

enum class ReadingKind { Constant, Ramp, Wave };

// Constant: a. Ramp: a + b * t, held at c when hasLimit. Wave: between a (low)
// and b (high), period c seconds, phase d seconds (a later phase lags).
struct ReadingModel {
    ReadingKind kind = ReadingKind::Constant;
    double a = 0, b = 0, c = 0, d = 0;
    bool hasLimit = false;
};
double evaluateReading(const ReadingModel& model, double seconds);
// Rounded and clamped to [low, high].
int64_t readingValue(const ReadingModel& model, double seconds, int64_t low, int64_t high);

// Records whose version words a GPU checks.
enum SimRecord : int {
    kRecordClocks,
    kRecordPstates,
    kRecordThermal,
    kRecordMemory,
    kRecordCooler,
    kRecordDynamic,
    kRecordDisplayIds,
    kRecordVoltage,
    kRecordUsage,
    kSimRecordCount
};
extern const char* const kSimRecordNames[kSimRecordCount];
// The version words a real driver accepts for each record.
const std::vector<uint32_t>& defaultRecordVersions(int record);

constexpr int kSimMaxGpus = 64;
constexpr int kSimNameMax = 63; // bytes, as the 64-byte name buffer allows

struct SimGpu {
    int index = 0; // as the scenario numbers it
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
};
SimGpu defaultSimGpu(int index);
bool gpuAcceptsVersion(const SimGpu& gpu, int record, uint32_t version);
int32_t gpuDriverModel(const SimGpu& gpu);

struct FailRule {
    int function = -1;
    int gpu = -1;      // scenario GPU index, or -1 for any
    int selector = -1; // clock type, sensor or cooler index; -1 for any
    uint32_t from = 1; // pass numbers, counted per function from 1
    uint32_t until = UINT32_MAX;
    bool hasStatus = false;
    int32_t status = 0;
};

struct DelayRule {
    int function = -1;
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
    std::vector<ScenarioError> errors;
};

// One default GPU, used when no scenario file is named.
Scenario defaultScenario();
// Lines that cannot be understood are skipped whole and listed in errors; the
// rest of the file still applies. A file without gpu lines has the one default
// GPU; the line "nogpus" gives none.
Scenario parseScenario(const std::string& text);

// Status a call gets from the fail rules for its pass, or false to go on.
bool failStatus(const Scenario& scenario, int function, int gpu, int selector, uint32_t pass,
                int32_t& status);
uint32_t delayMs(const Scenario& scenario, int function, int gpu);

// The GPUs in the order the driver lists them: physical ones, then TCC ones.
std::vector<int> physicalGpuOrder(const Scenario& scenario);
std::vector<int> tccGpuOrder(const Scenario& scenario);
// NVML numbers them by PCI bus (ties in the driver's order), as the real library does.
std::vector<int> nvmlGpuOrder(const Scenario& scenario);

// A scenario path as Windows opens it: a Unix path goes through Wine's Z: drive.
std::string scenarioPathForWindows(const std::string& path);
