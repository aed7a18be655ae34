// Simulated NVML (nvml.dll on Windows, libnvidia-ml.so.1 natively): the NVML
// functions both Agents call, driven by the scenario.
#include "gpu/driver_records.h"
#include "gpu/nvml_calls.h"
#include "sim/sim_runtime.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>
#include <type_traits>

#ifdef _WIN32
#define SIM_EXPORT extern "C" __declspec(dllexport)
#else
#define SIM_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {
char gDeviceTokens[kSimMaxGpus];
std::atomic<int32_t> gInitCount{0};

// NVML numbers devices by PCI bus, which need not be the Agent's slot order.
const SimGpu* gpuAt(size_t index) {
    std::vector<int> order = nvmlGpuOrder(gSimRuntime.scenario);
    return index < order.size() ? &gSimRuntime.scenario.gpus[static_cast<size_t>(order[index])] : nullptr;
}

const SimGpu* gpuOf(nvmlDevice_t device) {
    // As integers: a caller's handle need not point into the token array.
    uintptr_t p = reinterpret_cast<uintptr_t>(device), first = reinterpret_cast<uintptr_t>(gDeviceTokens);
    if (p < first || p >= first + kSimMaxGpus)
        return nullptr;
    return gpuAt(static_cast<size_t>(p - first));
}

// Counting, delay, fail rules, initialisation and device checks, then the
// GPU's hang and loss. A hang only sleeps: other GPUs' calls go on meanwhile.
nvmlReturn_t beginDeviceCall(SimFunction function, nvmlDevice_t device, const SimGpu*& gpu,
                             int selector = -1) {
    gpu = gpuOf(device);
    int32_t status;
    if (simCallFails(gSimRuntime, function, gpu ? gpu->index : -1, selector, status))
        return status;
    if (gInitCount.load() <= 0)
        return NVML_ERROR_UNINITIALIZED;
    if (!gpu)
        return NVML_ERROR_INVALID_ARGUMENT;
    simSleepSeconds(gpuHangWait(*gpu, simSeconds(gSimRuntime)));
    return gpuLostAt(*gpu, simSeconds(gSimRuntime)) ? NVML_ERROR_GPU_IS_LOST : NVML_SUCCESS;
}

uint32_t reading(const SimGpu& gpu, SimReading which) {
    return static_cast<uint32_t>(readingValue(modelOf(gpu, which), simSeconds(gSimRuntime), 0, UINT32_MAX));
}

uint32_t percent(const ReadingModel& model) {
    return static_cast<uint32_t>(readingValue(model, simSeconds(gSimRuntime), 0, 100));
}

// A text answer as NVML gives one: INSUFFICIENT_SIZE unless it fits with its terminator.
nvmlReturn_t copyText(const std::string& text, char* out, uint32_t length) {
    if (!out)
        return NVML_ERROR_INVALID_ARGUMENT;
    if (length <= text.size())
        return NVML_ERROR_INSUFFICIENT_SIZE;
    std::memcpy(out, text.c_str(), text.size() + 1);
    return NVML_SUCCESS;
}

// A device call answering one reading through a uint32_t*.
nvmlReturn_t oneValue(SimFunction function, nvmlDevice_t device, uint32_t* value,
                      uint32_t (*answer)(const SimGpu&), bool needsCooler = false) {
    const SimGpu* gpu;
    nvmlReturn_t status = beginDeviceCall(function, device, gpu);
    if (status != NVML_SUCCESS)
        return status;
    if (!value)
        return NVML_ERROR_INVALID_ARGUMENT;
    if (needsCooler && gpu->coolers == 0)
        return NVML_ERROR_NOT_SUPPORTED;
    *value = answer(*gpu);
    return NVML_SUCCESS;
}

// Clock in MHz of an NVML clock type from the current (0), base (1) or boost (2)
// readings, which are in kHz per NvAPI domain.
nvmlReturn_t clockInfo(SimFunction function, nvmlDevice_t device, nvmlClockType_t type, uint32_t* mhz,
                       int set) {
    const SimGpu* gpu;
    nvmlReturn_t status = beginDeviceCall(function, device, gpu, type);
    if (status != NVML_SUCCESS)
        return status;
    // By NVML type: GRAPHICS, SM, MEM, VIDEO.
    static const struct {
        SimReading current;
        uint32_t domain;
    } kClocks[] = {{SimReading::GraphicsClock, 0},
                   {SimReading::ProcessorClock, 7},
                   {SimReading::MemoryClock, 4},
                   {SimReading::VideoClock, 8}};
    if (type < 0 || type > NVML_CLOCK_VIDEO || !mhz)
        return NVML_ERROR_INVALID_ARGUMENT;
    // The default applications clocks are a graphics and memory pair.
    if (function == SimFunction::NvmlDeviceGetDefaultApplicationsClock && type != NVML_CLOCK_GRAPHICS &&
        type != NVML_CLOCK_MEM)
        return NVML_ERROR_NOT_SUPPORTED;
    if (!(gpu->domainMask & (1u << kClocks[type].domain)))
        return NVML_ERROR_NOT_SUPPORTED;
    static_assert(
        static_cast<int>(SimReading::VideoClockBase) == static_cast<int>(SimReading::VideoClock) + 4 &&
            static_cast<int>(SimReading::VideoClockBoost) == static_cast<int>(SimReading::VideoClock) + 8,
        "base and boost readings follow the current ones, four apart");
    int which = static_cast<int>(kClocks[type].current) + set * 4;
    *mhz = reading(*gpu, static_cast<SimReading>(which)) / 1000;
    return NVML_SUCCESS;
}

nvmlReturn_t videoUtilization(SimFunction function, nvmlDevice_t device, uint32_t* value, uint32_t* periodUs,
                              bool encoder) {
    const SimGpu* gpu;
    nvmlReturn_t status = beginDeviceCall(function, device, gpu);
    if (status != NVML_SUCCESS)
        return status;
    if (!value || !periodUs)
        return NVML_ERROR_INVALID_ARGUMENT;
    *value = percent(encoder ? encoderLoadModel(*gpu) : modelOf(*gpu, SimReading::DecoderLoad));
    *periodUs = 1000000;
    return NVML_SUCCESS;
}

nvmlReturn_t init(SimFunction function) {
    int32_t status;
    if (simCallFails(gSimRuntime, function, -1, -1, status))
        return status;
    gInitCount.fetch_add(1);
    return NVML_SUCCESS;
}

nvmlReturn_t deviceCount(SimFunction function, uint32_t* count) {
    int32_t status;
    if (simCallFails(gSimRuntime, function, -1, -1, status))
        return status;
    if (gInitCount.load() <= 0)
        return NVML_ERROR_UNINITIALIZED;
    if (!count)
        return NVML_ERROR_INVALID_ARGUMENT;
    *count = static_cast<uint32_t>(gSimRuntime.scenario.gpus.size());
    return NVML_SUCCESS;
}

nvmlReturn_t handleByIndex(SimFunction function, uint32_t index, nvmlDevice_t* device) {
    const SimGpu* gpu = gpuAt(index);
    int32_t status;
    if (simCallFails(gSimRuntime, function, gpu ? gpu->index : -1, -1, status))
        return status;
    if (gInitCount.load() <= 0)
        return NVML_ERROR_UNINITIALIZED;
    if (!gpu || !device)
        return NVML_ERROR_INVALID_ARGUMENT;
    if (gpuLostAt(*gpu, simSeconds(gSimRuntime)))
        return NVML_ERROR_GPU_IS_LOST;
    *device = reinterpret_cast<nvmlDevice_t>(&gDeviceTokens[index]);
    return NVML_SUCCESS;
}

nvmlReturn_t pciInfo(SimFunction function, nvmlDevice_t device, nvmlPciInfo_t* pci, size_t bytes) {
    const SimGpu* gpu;
    nvmlReturn_t status = beginDeviceCall(function, device, gpu);
    if (status != NVML_SUCCESS)
        return status;
    if (!pci)
        return NVML_ERROR_INVALID_ARGUMENT;
    nvmlPciInfo_t built{};
    std::snprintf(built.busIdLegacy, sizeof built.busIdLegacy, "%04X:%02X:00.0", 0u, gpu->bus);
    built.domain = 0;
    built.bus = gpu->bus;
    built.device = 0;
    built.pciDeviceId = (0x2204u << 16) | 0x10DEu;
    built.pciSubSystemId = 0x00001043u + (static_cast<uint32_t>(gpu->index) << 16);
    // The old 52-byte record ends in reserved words where the current one has busId.
    if (bytes == sizeof(nvmlPciInfo_t))
        std::snprintf(built.busId, sizeof built.busId, "%08X:%02X:00.0", 0u, gpu->bus);
    std::memcpy(pci, &built, bytes);
    return NVML_SUCCESS;
}

nvmlReturn_t driverModel(SimFunction function, nvmlDevice_t device, nvmlDriverModel_t* current,
                         nvmlDriverModel_t* pending) {
    const SimGpu* gpu;
    nvmlReturn_t status = beginDeviceCall(function, device, gpu);
    if (status != NVML_SUCCESS)
        return status;
    if (!current && !pending)
        return NVML_ERROR_INVALID_ARGUMENT;
    if (current)
        *current = gpuDriverModel(*gpu);
    if (pending)
        *pending = gpuDriverModel(*gpu);
    return NVML_SUCCESS;
}
} // namespace

SIM_EXPORT nvmlReturn_t nvmlInit() {
    return init(SimFunction::NvmlInit);
}
SIM_EXPORT nvmlReturn_t nvmlInit_v2() {
    return init(SimFunction::NvmlInitV2);
}
SIM_EXPORT nvmlReturn_t nvmlShutdown() {
    int32_t status;
    if (simCallFails(gSimRuntime, SimFunction::NvmlShutdown, -1, -1, status))
        return status;
    if (gInitCount.load() <= 0)
        return NVML_ERROR_UNINITIALIZED;
    gInitCount.fetch_sub(1);
    return NVML_SUCCESS;
}
SIM_EXPORT nvmlReturn_t nvmlDeviceGetCount(uint32_t* count) {
    return deviceCount(SimFunction::NvmlDeviceGetCount, count);
}
SIM_EXPORT nvmlReturn_t nvmlDeviceGetCount_v2(uint32_t* count) {
    return deviceCount(SimFunction::NvmlDeviceGetCountV2, count);
}
SIM_EXPORT nvmlReturn_t nvmlDeviceGetHandleByIndex(uint32_t index, nvmlDevice_t* device) {
    return handleByIndex(SimFunction::NvmlDeviceGetHandleByIndex, index, device);
}
SIM_EXPORT nvmlReturn_t nvmlDeviceGetHandleByIndex_v2(uint32_t index, nvmlDevice_t* device) {
    return handleByIndex(SimFunction::NvmlDeviceGetHandleByIndexV2, index, device);
}
SIM_EXPORT nvmlReturn_t nvmlDeviceGetMemoryInfo(nvmlDevice_t device, nvmlMemory_t* memory) {
    const SimGpu* gpu;
    nvmlReturn_t status = beginDeviceCall(SimFunction::NvmlDeviceGetMemoryInfo, device, gpu);
    if (status != NVML_SUCCESS)
        return status;
    if (!memory)
        return NVML_ERROR_INVALID_ARGUMENT;
    uint64_t total = uint64_t{reading(*gpu, SimReading::MemoryTotal)} * 1024;
    uint64_t used = uint64_t{reading(*gpu, SimReading::MemoryUsed)} * 1024;
    if (used > total)
        used = total;
    memory->total = total;
    memory->used = used;
    memory->free = total - used;
    return NVML_SUCCESS;
}
SIM_EXPORT nvmlReturn_t nvmlDeviceGetPowerUsage(nvmlDevice_t device, uint32_t* milliwatts) {
    return oneValue(SimFunction::NvmlDeviceGetPowerUsage, device, milliwatts,
                    [](const SimGpu& gpu) { return reading(gpu, SimReading::PowerDraw); });
}
SIM_EXPORT nvmlReturn_t nvmlDeviceGetPowerManagementLimit(nvmlDevice_t device, uint32_t* milliwatts) {
    return oneValue(SimFunction::NvmlDeviceGetPowerManagementLimit, device, milliwatts,
                    [](const SimGpu& gpu) {
                        return static_cast<uint32_t>(readingValue(powerManagementLimitModel(gpu),
                                                                  simSeconds(gSimRuntime), 0, UINT32_MAX));
                    });
}
// The oldest entry point fills the old 52-byte layout; bus is at 20 in both.
SIM_EXPORT nvmlReturn_t nvmlDeviceGetPciInfo(nvmlDevice_t device, nvmlPciInfo_t* pci) {
    return pciInfo(SimFunction::NvmlDeviceGetPciInfo, device, pci, kNvmlPciInfoV1Bytes);
}
SIM_EXPORT nvmlReturn_t nvmlDeviceGetPciInfo_v2(nvmlDevice_t device, nvmlPciInfo_t* pci) {
    return pciInfo(SimFunction::NvmlDeviceGetPciInfoV2, device, pci, sizeof(nvmlPciInfo_t));
}
SIM_EXPORT nvmlReturn_t nvmlDeviceGetPciInfo_v3(nvmlDevice_t device, nvmlPciInfo_t* pci) {
    return pciInfo(SimFunction::NvmlDeviceGetPciInfoV3, device, pci, sizeof(nvmlPciInfo_t));
}
SIM_EXPORT nvmlReturn_t nvmlDeviceGetDriverModel(nvmlDevice_t device, nvmlDriverModel_t* current,
                                                 nvmlDriverModel_t* pending) {
    return driverModel(SimFunction::NvmlDeviceGetDriverModel, device, current, pending);
}
SIM_EXPORT nvmlReturn_t nvmlDeviceGetDriverModel_v2(nvmlDevice_t device, nvmlDriverModel_t* current,
                                                    nvmlDriverModel_t* pending) {
    return driverModel(SimFunction::NvmlDeviceGetDriverModelV2, device, current, pending);
}

SIM_EXPORT nvmlReturn_t nvmlDeviceGetName(nvmlDevice_t device, char* name, uint32_t length) {
    const SimGpu* gpu;
    nvmlReturn_t status = beginDeviceCall(SimFunction::NvmlDeviceGetName, device, gpu);
    if (status != NVML_SUCCESS)
        return status;
    return copyText(gpu->name, name, length);
}
SIM_EXPORT nvmlReturn_t nvmlDeviceGetClockInfo(nvmlDevice_t device, nvmlClockType_t type, uint32_t* mhz) {
    return clockInfo(SimFunction::NvmlDeviceGetClockInfo, device, type, mhz, 0);
}
SIM_EXPORT nvmlReturn_t nvmlDeviceGetDefaultApplicationsClock(nvmlDevice_t device, nvmlClockType_t type,
                                                              uint32_t* mhz) {
    return clockInfo(SimFunction::NvmlDeviceGetDefaultApplicationsClock, device, type, mhz, 1);
}
SIM_EXPORT nvmlReturn_t nvmlDeviceGetMaxClockInfo(nvmlDevice_t device, nvmlClockType_t type, uint32_t* mhz) {
    return clockInfo(SimFunction::NvmlDeviceGetMaxClockInfo, device, type, mhz, 2);
}
SIM_EXPORT nvmlReturn_t nvmlDeviceGetUtilizationRates(nvmlDevice_t device, nvmlUtilization_t* rates) {
    const SimGpu* gpu;
    nvmlReturn_t status = beginDeviceCall(SimFunction::NvmlDeviceGetUtilizationRates, device, gpu);
    if (status != NVML_SUCCESS)
        return status;
    if (!rates)
        return NVML_ERROR_INVALID_ARGUMENT;
    rates->gpu = percent(modelOf(*gpu, SimReading::GpuLoad));
    rates->memory = percent(modelOf(*gpu, SimReading::MemoryControllerLoad));
    return NVML_SUCCESS;
}
SIM_EXPORT nvmlReturn_t nvmlDeviceGetEncoderUtilization(nvmlDevice_t device, uint32_t* percent,
                                                        uint32_t* samplingPeriodUs) {
    return videoUtilization(SimFunction::NvmlDeviceGetEncoderUtilization, device, percent, samplingPeriodUs,
                            true);
}
SIM_EXPORT nvmlReturn_t nvmlDeviceGetDecoderUtilization(nvmlDevice_t device, uint32_t* percent,
                                                        uint32_t* samplingPeriodUs) {
    return videoUtilization(SimFunction::NvmlDeviceGetDecoderUtilization, device, percent, samplingPeriodUs,
                            false);
}
SIM_EXPORT nvmlReturn_t nvmlDeviceGetMemoryInfo_v2(nvmlDevice_t device, nvmlMemory_v2_t* memory) {
    const SimGpu* gpu;
    nvmlReturn_t status = beginDeviceCall(SimFunction::NvmlDeviceGetMemoryInfoV2, device, gpu);
    if (status != NVML_SUCCESS)
        return status;
    if (!memory)
        return NVML_ERROR_INVALID_ARGUMENT;
    if (memory->version != nvmlMemory_v2)
        return NVML_ERROR_ARGUMENT_VERSION_MISMATCH;
    uint64_t total = uint64_t{reading(*gpu, SimReading::MemoryTotal)} * 1024;
    uint64_t used = std::min(total, uint64_t{reading(*gpu, SimReading::MemoryUsed)} * 1024);
    memory->total = total;
    memory->reserved = 0;
    memory->free = total - used;
    memory->used = used;
    return NVML_SUCCESS;
}
SIM_EXPORT nvmlReturn_t nvmlDeviceGetTemperature(nvmlDevice_t device, nvmlTemperatureSensors_t sensor,
                                                 uint32_t* celsius) {
    const SimGpu* gpu;
    nvmlReturn_t status = beginDeviceCall(SimFunction::NvmlDeviceGetTemperature, device, gpu, sensor);
    if (status != NVML_SUCCESS)
        return status;
    if (sensor != NVML_TEMPERATURE_GPU || !celsius)
        return NVML_ERROR_INVALID_ARGUMENT;
    *celsius = reading(*gpu, SimReading::Temperature);
    return NVML_SUCCESS;
}
SIM_EXPORT nvmlReturn_t nvmlDeviceGetEnforcedPowerLimit(nvmlDevice_t device, uint32_t* milliwatts) {
    return oneValue(SimFunction::NvmlDeviceGetEnforcedPowerLimit, device, milliwatts,
                    [](const SimGpu& gpu) { return reading(gpu, SimReading::PowerLimit); });
}
SIM_EXPORT nvmlReturn_t nvmlDeviceGetFanSpeed(nvmlDevice_t device, uint32_t* percent) {
    return oneValue(
        SimFunction::NvmlDeviceGetFanSpeed, device, percent,
        [](const SimGpu& gpu) { return ::percent(modelOf(gpu, SimReading::FanLevel)); }, true);
}
SIM_EXPORT nvmlReturn_t nvmlDeviceGetFanSpeedRPM(nvmlDevice_t device, nvmlFanSpeedInfo_t* fan) {
    const SimGpu* gpu;
    nvmlReturn_t status = beginDeviceCall(SimFunction::NvmlDeviceGetFanSpeedRPM, device, gpu,
                                          fan ? static_cast<int>(fan->fan) : -1);
    if (status != NVML_SUCCESS)
        return status;
    if (!fan)
        return NVML_ERROR_INVALID_ARGUMENT;
    if (fan->version != nvmlFanSpeedInfo_v1)
        return NVML_ERROR_ARGUMENT_VERSION_MISMATCH;
    if (gpu->coolers == 0 || !gpu->rpmFlag)
        return NVML_ERROR_NOT_SUPPORTED;
    if (fan->fan >= gpu->coolers)
        return NVML_ERROR_INVALID_ARGUMENT;
    fan->speed = reading(*gpu, SimReading::FanRpm);
    return NVML_SUCCESS;
}
SIM_EXPORT nvmlReturn_t nvmlDeviceGetPerformanceState(nvmlDevice_t device, nvmlPstates_t* state) {
    const SimGpu* gpu;
    nvmlReturn_t status = beginDeviceCall(SimFunction::NvmlDeviceGetPerformanceState, device, gpu);
    if (status != NVML_SUCCESS)
        return status;
    if (!state)
        return NVML_ERROR_INVALID_ARGUMENT;
    *state = static_cast<nvmlPstates_t>(
        readingValue(modelOf(*gpu, SimReading::Pstate), simSeconds(gSimRuntime), 0, 15));
    return NVML_SUCCESS;
}

namespace {
// Health readings. The energy counter, the clock event reasons and ECC are
// answered only where the scenario gives them, as a board without them
// answers NOT_SUPPORTED.
nvmlReturn_t counterValue(SimFunction function, nvmlDevice_t device, unsigned long long* value,
                          SimReading which, SimReading givenBy) {
    const SimGpu* gpu;
    nvmlReturn_t status = beginDeviceCall(function, device, gpu);
    if (status != NVML_SUCCESS)
        return status;
    if (!value)
        return NVML_ERROR_INVALID_ARGUMENT;
    if (!modelOf(*gpu, givenBy).given)
        return NVML_ERROR_NOT_SUPPORTED;
    *value = static_cast<unsigned long long>(
        readingValue(modelOf(*gpu, which), simSeconds(gSimRuntime), 0, INT64_MAX));
    return NVML_SUCCESS;
}

bool eccOn(const SimGpu& gpu) {
    return modelOf(gpu, SimReading::EccCorrected).given || modelOf(gpu, SimReading::EccUncorrected).given;
}

// Event sets: which GPUs each set watches and which of their Xids it has handed out.
constexpr int kSimEventSets = 8;
struct SimEventSet {
    bool open = false;
    bool watched[kSimMaxGpus] = {};
    std::vector<bool> delivered[kSimMaxGpus];
};
std::mutex gEventLock;
SimEventSet gEventSets[kSimEventSets];

SimEventSet* eventSetOf(nvmlEventSet_t set) {
    uintptr_t p = reinterpret_cast<uintptr_t>(set), first = reinterpret_cast<uintptr_t>(gEventSets);
    if (p < first || p >= first + sizeof gEventSets || (p - first) % sizeof(SimEventSet) != 0)
        return nullptr;
    SimEventSet* s = reinterpret_cast<SimEventSet*>(set);
    return s->open ? s : nullptr;
}

// The next Xid due for a set, marked handed out; false when none is due.
bool nextXid(SimEventSet& set, double seconds, nvmlEventData_t* data) {
    std::vector<int> order = nvmlGpuOrder(gSimRuntime.scenario);
    for (size_t position = 0; position < order.size(); ++position) {
        const SimGpu& gpu = gSimRuntime.scenario.gpus[static_cast<size_t>(order[position])];
        if (!set.watched[gpu.index])
            continue;
        std::vector<bool>& delivered = set.delivered[gpu.index];
        delivered.resize(gpu.xids.size());
        for (size_t k = 0; k < gpu.xids.size(); ++k) {
            if (delivered[k] || gpu.xids[k].at > seconds)
                continue;
            delivered[k] = true;
            *data = nvmlEventData_t{};
            data->device = reinterpret_cast<nvmlDevice_t>(&gDeviceTokens[position]);
            data->eventType = nvmlEventTypeXidCriticalError;
            data->eventData = gpu.xids[k].xid;
            data->gpuInstanceId = 0xFFFFFFFFu;
            data->computeInstanceId = 0xFFFFFFFFu;
            return true;
        }
    }
    return false;
}

nvmlReturn_t eventSetWait(SimFunction function, nvmlEventSet_t set, nvmlEventData_t* data,
                          uint32_t timeoutMs) {
    int32_t status;
    if (simCallFails(gSimRuntime, function, -1, -1, status))
        return status;
    if (gInitCount.load() <= 0)
        return NVML_ERROR_UNINITIALIZED;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(gEventLock);
            SimEventSet* s = eventSetOf(set);
            if (!s || !data)
                return NVML_ERROR_INVALID_ARGUMENT;
            if (nextXid(*s, simSeconds(gSimRuntime), data))
                return NVML_SUCCESS;
        }
        auto now = std::chrono::steady_clock::now();
        if (now >= deadline)
            return NVML_ERROR_TIMEOUT;
        std::this_thread::sleep_for(
            std::min<std::chrono::steady_clock::duration>(deadline - now, std::chrono::milliseconds(20)));
    }
}

nvmlReturn_t clockEventReasons(SimFunction function, nvmlDevice_t device, unsigned long long* reasons,
                               SimReading which) {
    return counterValue(function, device, reasons, which, SimReading::ClockEventsSupported);
}
} // namespace

SIM_EXPORT nvmlReturn_t nvmlDeviceGetUUID(nvmlDevice_t device, char* uuid, uint32_t length) {
    const SimGpu* gpu;
    nvmlReturn_t status = beginDeviceCall(SimFunction::NvmlDeviceGetUUID, device, gpu);
    if (status != NVML_SUCCESS)
        return status;
    return copyText(gpuUuid(*gpu), uuid, length);
}
SIM_EXPORT nvmlReturn_t nvmlSystemGetDriverVersion(char* version, uint32_t length) {
    int32_t status;
    if (simCallFails(gSimRuntime, SimFunction::NvmlSystemGetDriverVersion, -1, -1, status))
        return status;
    if (gInitCount.load() <= 0)
        return NVML_ERROR_UNINITIALIZED;
    return copyText(gSimRuntime.scenario.driverVersion, version, length);
}
SIM_EXPORT nvmlReturn_t nvmlDeviceGetTotalEnergyConsumption(nvmlDevice_t device,
                                                            unsigned long long* millijoules) {
    return counterValue(SimFunction::NvmlDeviceGetTotalEnergyConsumption, device, millijoules,
                        SimReading::Energy, SimReading::Energy);
}
SIM_EXPORT nvmlReturn_t nvmlDeviceGetSupportedClocksEventReasons(nvmlDevice_t device,
                                                                 unsigned long long* reasons) {
    return clockEventReasons(SimFunction::NvmlDeviceGetSupportedClocksEventReasons, device, reasons,
                             SimReading::ClockEventsSupported);
}
SIM_EXPORT nvmlReturn_t nvmlDeviceGetSupportedClocksThrottleReasons(nvmlDevice_t device,
                                                                    unsigned long long* reasons) {
    return clockEventReasons(SimFunction::NvmlDeviceGetSupportedClocksThrottleReasons, device, reasons,
                             SimReading::ClockEventsSupported);
}
SIM_EXPORT nvmlReturn_t nvmlDeviceGetCurrentClocksEventReasons(nvmlDevice_t device,
                                                               unsigned long long* reasons) {
    return clockEventReasons(SimFunction::NvmlDeviceGetCurrentClocksEventReasons, device, reasons,
                             SimReading::ClockEventsActive);
}
SIM_EXPORT nvmlReturn_t nvmlDeviceGetCurrentClocksThrottleReasons(nvmlDevice_t device,
                                                                  unsigned long long* reasons) {
    return clockEventReasons(SimFunction::NvmlDeviceGetCurrentClocksThrottleReasons, device, reasons,
                             SimReading::ClockEventsActive);
}
SIM_EXPORT nvmlReturn_t nvmlDeviceGetEccMode(nvmlDevice_t device, nvmlEnableState_t* current,
                                             nvmlEnableState_t* pending) {
    const SimGpu* gpu;
    nvmlReturn_t status = beginDeviceCall(SimFunction::NvmlDeviceGetEccMode, device, gpu);
    if (status != NVML_SUCCESS)
        return status;
    if (!current || !pending)
        return NVML_ERROR_INVALID_ARGUMENT;
    if (!eccOn(*gpu))
        return NVML_ERROR_NOT_SUPPORTED;
    *current = *pending = NVML_FEATURE_ENABLED;
    return NVML_SUCCESS;
}
SIM_EXPORT nvmlReturn_t nvmlDeviceGetTotalEccErrors(nvmlDevice_t device, nvmlMemoryErrorType_t type,
                                                    nvmlEccCounterType_t counter, unsigned long long* count) {
    const SimGpu* gpu;
    nvmlReturn_t status = beginDeviceCall(SimFunction::NvmlDeviceGetTotalEccErrors, device, gpu, type);
    if (status != NVML_SUCCESS)
        return status;
    if (!count || type < 0 || type > 1 || counter < 0 || counter > 1)
        return NVML_ERROR_INVALID_ARGUMENT;
    if (!eccOn(*gpu))
        return NVML_ERROR_NOT_SUPPORTED;
    SimReading which =
        type == NVML_MEMORY_ERROR_TYPE_CORRECTED ? SimReading::EccCorrected : SimReading::EccUncorrected;
    *count = static_cast<unsigned long long>(
        readingValue(modelOf(*gpu, which), simSeconds(gSimRuntime), 0, INT64_MAX));
    return NVML_SUCCESS;
}
SIM_EXPORT nvmlReturn_t nvmlEventSetCreate(nvmlEventSet_t* set) {
    int32_t status;
    if (simCallFails(gSimRuntime, SimFunction::NvmlEventSetCreate, -1, -1, status))
        return status;
    if (gInitCount.load() <= 0)
        return NVML_ERROR_UNINITIALIZED;
    if (!set)
        return NVML_ERROR_INVALID_ARGUMENT;
    std::lock_guard<std::mutex> lock(gEventLock);
    for (SimEventSet& s : gEventSets) {
        if (s.open)
            continue;
        s = SimEventSet{};
        s.open = true;
        *set = reinterpret_cast<nvmlEventSet_t>(&s);
        return NVML_SUCCESS;
    }
    return NVML_ERROR_UNKNOWN;
}
SIM_EXPORT nvmlReturn_t nvmlDeviceRegisterEvents(nvmlDevice_t device, unsigned long long types,
                                                 nvmlEventSet_t set) {
    const SimGpu* gpu;
    nvmlReturn_t status = beginDeviceCall(SimFunction::NvmlDeviceRegisterEvents, device, gpu);
    if (status != NVML_SUCCESS)
        return status;
    std::lock_guard<std::mutex> lock(gEventLock);
    SimEventSet* s = eventSetOf(set);
    if (!s)
        return NVML_ERROR_INVALID_ARGUMENT;
    if (types & nvmlEventTypeXidCriticalError)
        s->watched[gpu->index] = true;
    return NVML_SUCCESS;
}
SIM_EXPORT nvmlReturn_t nvmlEventSetWait_v2(nvmlEventSet_t set, nvmlEventData_t* data, uint32_t timeoutMs) {
    return eventSetWait(SimFunction::NvmlEventSetWaitV2, set, data, timeoutMs);
}
SIM_EXPORT nvmlReturn_t nvmlEventSetWait(nvmlEventSet_t set, nvmlEventData_t* data, uint32_t timeoutMs) {
    return eventSetWait(SimFunction::NvmlEventSetWait, set, data, timeoutMs);
}
SIM_EXPORT nvmlReturn_t nvmlDeviceGetRunningProcessDetailList(nvmlDevice_t device,
                                                              nvmlProcessDetailList_v1_t* list) {
    const SimGpu* gpu;
    nvmlReturn_t status = beginDeviceCall(SimFunction::NvmlDeviceGetRunningProcessDetailList, device, gpu);
    if (status != NVML_SUCCESS)
        return status;
    if (!list)
        return NVML_ERROR_INVALID_ARGUMENT;
    if (list->version != nvmlProcessDetailList_v1)
        return NVML_ERROR_ARGUMENT_VERSION_MISMATCH;
    std::vector<nvmlProcessDetail_v1_t> found;
    for (const SimProcess& p : gpu->processes) {
        if (p.graphics != (list->mode == NVML_PROCESS_MODE_GRAPHICS))
            continue;
        nvmlProcessDetail_v1_t d{};
        d.pid = p.pid ? p.pid : simProcessId();
        d.usedGpuMemory = p.known ? p.bytes : NVML_VALUE_NOT_AVAILABLE;
        d.gpuInstanceId = d.computeInstanceId = 0xFFFFFFFFu;
        found.push_back(d);
    }
    uint32_t room = list->numProcArrayEntries;
    list->numProcArrayEntries = static_cast<uint32_t>(found.size());
    if (room < found.size() || (!found.empty() && !list->procArray))
        return NVML_ERROR_INSUFFICIENT_SIZE;
    std::copy(found.begin(), found.end(), list->procArray);
    return NVML_SUCCESS;
}
SIM_EXPORT nvmlReturn_t nvmlEventSetFree(nvmlEventSet_t set) {
    std::lock_guard<std::mutex> lock(gEventLock);
    SimEventSet* s = eventSetOf(set);
    if (!s)
        return NVML_ERROR_INVALID_ARGUMENT;
    *s = SimEventSet{};
    return NVML_SUCCESS;
}

// NVIDIA's own words for each status, as its library answers them.
SIM_EXPORT const char* nvmlErrorString(nvmlReturn_t result) {
    static const struct {
        nvmlReturn_t status;
        const char* words;
    } kWords[] = {
        {NVML_SUCCESS, "Success"},
        {NVML_ERROR_UNINITIALIZED, "Uninitialized"},
        {NVML_ERROR_INVALID_ARGUMENT, "Invalid Argument"},
        {NVML_ERROR_NOT_SUPPORTED, "Not Supported"},
        {NVML_ERROR_NO_PERMISSION, "Insufficient Permissions"},
        {NVML_ERROR_ALREADY_INITIALIZED, "Already Initialized"},
        {NVML_ERROR_NOT_FOUND, "Not Found"},
        {NVML_ERROR_INSUFFICIENT_SIZE, "Insufficient Size"},
        {NVML_ERROR_DRIVER_NOT_LOADED, "Driver Not Loaded"},
        {NVML_ERROR_TIMEOUT, "Timeout"},
        {NVML_ERROR_LIBRARY_NOT_FOUND, "NVML Shared Library Not Found"},
        {NVML_ERROR_FUNCTION_NOT_FOUND, "Function Not Found"},
        {NVML_ERROR_GPU_IS_LOST, "GPU is lost"},
        {NVML_ERROR_ARGUMENT_VERSION_MISMATCH, "Argument version mismatch"},
    };
    for (const auto& w : kWords)
        if (w.status == result)
            return w.words;
    return "Unknown Error";
}

// Each export the Agents look up has the type the list gives, under both names.
#define GAUGELINE_SIM_NVML_TYPE(field, newer, older, since, params)                                          \
    static_assert(std::is_same_v<decltype(&newer), nvmlReturn_t(*) params>, #newer);                         \
    static_assert(std::is_same_v<decltype(&older), nvmlReturn_t(*) params>, #older);
GAUGELINE_NVML_CALLS(GAUGELINE_SIM_NVML_TYPE)
#undef GAUGELINE_SIM_NVML_TYPE
static_assert(std::is_same_v<decltype(&nvmlErrorString), decltype(NvmlApi::errorString)>, "nvmlErrorString");

GAUGELINE_SIM_TEST_EXPORTS(SIM_EXPORT)
