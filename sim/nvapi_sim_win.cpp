// Simulated nvapi64.dll: answers nvapi_QueryInterface for every interface id the
// system uses, laying records out as the real driver does, driven by the scenario.
#include "gpu/driver_records.h"
#include "sim/sim_runtime_win.h"

#include <algorithm>
#include <cstring>

#define SIM_EXPORT extern "C" __declspec(dllexport)

namespace {
// A GPU handle is the address of one of these bytes; the byte's index is the
// GPU's position in the scenario.
char gGpuTokens[kSimMaxGpus];

NvPhysicalGpuHandle handleOf(size_t position) {
    return reinterpret_cast<NvPhysicalGpuHandle>(&gGpuTokens[position]);
}

const SimGpu* gpuOf(NvPhysicalGpuHandle handle) {
    auto* p = reinterpret_cast<char*>(handle);
    if (p < gGpuTokens || p >= gGpuTokens + kSimMaxGpus)
        return nullptr;
    size_t position = static_cast<size_t>(p - gGpuTokens);
    return position < gSimRuntime.scenario.gpus.size() ? &gSimRuntime.scenario.gpus[position] : nullptr;
}

int64_t valueOf(const SimGpu& gpu, SimReading which, int64_t low, int64_t high) {
    return readingValue(modelOf(gpu, which), simSeconds(gSimRuntime), low, high);
}
uint32_t reading(const SimGpu& gpu, SimReading which) {
    return static_cast<uint32_t>(valueOf(gpu, which, 0, UINT32_MAX));
}
uint32_t percent(const SimGpu& gpu, SimReading which) {
    return static_cast<uint32_t>(valueOf(gpu, which, 0, 100));
}

// Common start of a GPU call: counting, delay, fail rules, the handle check,
// then the GPU's hang and loss, as for its NVML calls.
NvAPI_Status beginGpuCall(SimFunction function, NvPhysicalGpuHandle handle, int selector,
                          const SimGpu*& gpu) {
    gpu = gpuOf(handle);
    int32_t status;
    if (simCallFails(gSimRuntime, function, gpu ? gpu->index : -1, selector, status))
        return status;
    if (!gpu)
        return handle ? NVAPI_EXPECTED_PHYSICAL_GPU_HANDLE : NVAPI_INVALID_ARGUMENT;
    simSleepSeconds(gpuHangWait(*gpu, simSeconds(gSimRuntime)));
    return gpuLostAt(*gpu, simSeconds(gSimRuntime)) ? NVAPI_HANDLE_INVALIDATED : NVAPI_OK;
}

// The same for a call that takes a record, whose version word the GPU checks.
NvAPI_Status beginRecordCall(SimFunction function, NvPhysicalGpuHandle handle, int selector,
                             const void* record, SimRecord kind, const SimGpu*& gpu) {
    NvAPI_Status status = beginGpuCall(function, handle, selector, gpu);
    if (status != NVAPI_OK)
        return status;
    if (!record)
        return NVAPI_INVALID_ARGUMENT;
    uint32_t version;
    std::memcpy(&version, record, 4);
    return gpuAcceptsVersion(*gpu, kind, version) ? NVAPI_OK : NVAPI_INCOMPATIBLE_STRUCT_VERSION;
}

// Writes the first `size` bytes of a record built in full, keeping the version word.
template <typename Record> void deliver(void* out, const Record& built, uint32_t size) {
    uint32_t version;
    std::memcpy(&version, out, 4);
    std::memcpy(out, &built, std::min<size_t>(size, sizeof built));
    std::memcpy(out, &version, 4);
}

NvAPI_Status NVAPI_CALL simInitialize() {
    int32_t status;
    if (simCallFails(gSimRuntime, SimFunction::Initialize, -1, -1, status))
        return status;
    return NVAPI_OK;
}

NvAPI_Status NVAPI_CALL simUnload() {
    int32_t status;
    if (simCallFails(gSimRuntime, SimFunction::Unload, -1, -1, status))
        return status;
    return NVAPI_OK;
}

NvAPI_Status enumerate(SimFunction function, const std::vector<int>& list, NvPhysicalGpuHandle* handles,
                       uint32_t* count, bool emptyIsError) {
    int32_t status;
    if (simCallFails(gSimRuntime, function, -1, -1, status))
        return status;
    if (!handles || !count)
        return NVAPI_INVALID_ARGUMENT;
    size_t n = std::min<size_t>(list.size(), NVAPI_MAX_PHYSICAL_GPUS);
    for (size_t i = 0; i < n; ++i)
        handles[i] = handleOf(static_cast<size_t>(list[i]));
    *count = static_cast<uint32_t>(n);
    return n == 0 && emptyIsError ? NVAPI_NVIDIA_DEVICE_NOT_FOUND : NVAPI_OK;
}

NvAPI_Status NVAPI_CALL simEnumPhysicalGPUs(NvPhysicalGpuHandle* handles, uint32_t* count) {
    return enumerate(SimFunction::EnumPhysicalGPUs, physicalGpuOrder(gSimRuntime.scenario), handles, count,
                     true);
}

NvAPI_Status NVAPI_CALL simEnumTCCPhysicalGPUs(NvPhysicalGpuHandle* handles, uint32_t* count) {
    return enumerate(SimFunction::EnumTCCPhysicalGPUs, tccGpuOrder(gSimRuntime.scenario), handles, count,
                     false);
}

NvAPI_Status NVAPI_CALL simGetFullName(NvPhysicalGpuHandle handle, char* name) {
    const SimGpu* gpu;
    NvAPI_Status status = beginGpuCall(SimFunction::GetFullName, handle, -1, gpu);
    if (status != NVAPI_OK)
        return status;
    if (!name)
        return NVAPI_INVALID_ARGUMENT;
    std::memset(name, 0, NVAPI_SHORT_STRING_MAX);
    std::memcpy(name, gpu->name.data(), std::min<size_t>(gpu->name.size(), NVAPI_SHORT_STRING_MAX - 1));
    return NVAPI_OK;
}

NvAPI_Status NVAPI_CALL simGetBusId(NvPhysicalGpuHandle handle, uint32_t* busId) {
    const SimGpu* gpu;
    NvAPI_Status status = beginGpuCall(SimFunction::GetBusId, handle, -1, gpu);
    if (status != NVAPI_OK)
        return status;
    if (!busId)
        return NVAPI_INVALID_ARGUMENT;
    *busId = gpu->bus;
    return NVAPI_OK;
}

NvAPI_Status NVAPI_CALL simGetAllClockFrequencies(NvPhysicalGpuHandle handle,
                                                  NV_GPU_CLOCK_FREQUENCIES* clocks) {
    uint32_t type = 0;
    if (clocks && nvapiVersionNumber(clocks->version) >= 2)
        type = clocks->clockType & 0xF;
    const SimGpu* gpu;
    NvAPI_Status status = beginRecordCall(SimFunction::GetAllClockFrequencies, handle, static_cast<int>(type),
                                          clocks, SimRecord::Clocks, gpu);
    if (status != NVAPI_OK)
        return status;
    if (type > NV_GPU_CLOCK_FREQUENCIES_BOOST_CLOCK)
        return NVAPI_INVALID_ARGUMENT;
    static const uint32_t kDomains[4] = {NVAPI_GPU_PUBLIC_CLOCK_GRAPHICS, NVAPI_GPU_PUBLIC_CLOCK_MEMORY,
                                         NVAPI_GPU_PUBLIC_CLOCK_PROCESSOR, NVAPI_GPU_PUBLIC_CLOCK_VIDEO};
    static const SimReading kFirstReading[3] = {SimReading::GraphicsClock, SimReading::GraphicsClockBase,
                                                SimReading::GraphicsClockBoost};
    uint32_t clockTypeWord = clocks->clockType;
    std::memset(clocks->domain, 0, sizeof clocks->domain);
    clocks->clockType = clockTypeWord;
    for (int i = 0; i < 4; ++i) {
        if (!(gpu->domainMask & (1u << kDomains[i])))
            continue;
        clocks->domain[kDomains[i]].bIsPresent = 1;
        clocks->domain[kDomains[i]].frequency =
            reading(*gpu, static_cast<SimReading>(static_cast<int>(kFirstReading[type]) + i));
    }
    return NVAPI_OK;
}

NvAPI_Status NVAPI_CALL simGetPstates20(NvPhysicalGpuHandle handle, NV_GPU_PERF_PSTATES20_INFO* info) {
    const SimGpu* gpu;
    NvAPI_Status status =
        beginRecordCall(SimFunction::GetPstates20, handle, -1, info, SimRecord::Pstates, gpu);
    if (status != NVAPI_OK)
        return status;
    static NV_GPU_PERF_PSTATES20_INFO built; // 7 KB: kept off the caller's stack
    static SRWLOCK builtLock = SRWLOCK_INIT;
    AcquireSRWLockExclusive(&builtLock);
    std::memset(&built, 0, sizeof built);
    built.numPstates = gpu->pstates;
    built.numBaseVoltages = 1;
    // Graphics and processor clocks are ranges from base to boost, memory a single
    // frequency, video a range whose lower end is 0 (callers then take the upper end).
    struct Entry {
        uint32_t domain;
        uint32_t type;
        SimReading low;
        SimReading high;
    };
    const Entry kEntries[4] = {
        {NVAPI_GPU_PUBLIC_CLOCK_GRAPHICS, NVAPI_GPU_PERF_PSTATE20_CLOCK_TYPE_RANGE,
         SimReading::GraphicsClockBase, SimReading::GraphicsClockBoost},
        {NVAPI_GPU_PUBLIC_CLOCK_MEMORY, NVAPI_GPU_PERF_PSTATE20_CLOCK_TYPE_SINGLE,
         SimReading::MemoryClockBase, SimReading::Count},
        {NVAPI_GPU_PUBLIC_CLOCK_PROCESSOR, NVAPI_GPU_PERF_PSTATE20_CLOCK_TYPE_RANGE,
         SimReading::ProcessorClockBase, SimReading::ProcessorClockBoost},
        {NVAPI_GPU_PUBLIC_CLOCK_VIDEO, NVAPI_GPU_PERF_PSTATE20_CLOCK_TYPE_RANGE, SimReading::Count,
         SimReading::VideoClockBase},
    };
    static const uint32_t kPstateIds[16] = {0, 2, 5, 8, 10, 12, 1, 3, 4, 6, 7, 9, 11, 13, 14, 15};
    uint32_t clockCount = 0;
    for (uint32_t p = 0; p < gpu->pstates; ++p) {
        NV_GPU_PSTATE20_ENTRY& pstate = built.pstates[p];
        pstate.pstateId = kPstateIds[p];
        uint32_t c = 0;
        for (const Entry& e : kEntries) {
            if (!(gpu->domainMask & (1u << e.domain)))
                continue;
            NV_GPU_PSTATE20_CLOCK_ENTRY_V1& clock = pstate.clocks[c++];
            clock.domainId = e.domain;
            clock.typeId = e.type;
            uint32_t low = e.low != SimReading::Count ? reading(*gpu, e.low) / (p + 1) : 0;
            if (e.type == NVAPI_GPU_PERF_PSTATE20_CLOCK_TYPE_SINGLE) {
                clock.data.single.freq_kHz = low;
            } else {
                clock.data.range.minFreq_kHz = low;
                clock.data.range.maxFreq_kHz = reading(*gpu, e.high) / (p + 1);
                clock.data.range.minVoltage_uV = reading(*gpu, SimReading::BaseVoltage) / (p + 1);
                clock.data.range.maxVoltage_uV = reading(*gpu, SimReading::CoreVoltage);
            }
        }
        clockCount = c;
        pstate.baseVoltages[0].volt_uV = reading(*gpu, SimReading::BaseVoltage) / (p + 1);
    }
    built.numClocks = clockCount;
    deliver(info, built, nvapiVersionSize(info->version));
    ReleaseSRWLockExclusive(&builtLock);
    return NVAPI_OK;
}

NvAPI_Status NVAPI_CALL simGetCurrentPstate(NvPhysicalGpuHandle handle, NV_GPU_PERF_PSTATE_ID* pstate) {
    const SimGpu* gpu;
    NvAPI_Status status = beginGpuCall(SimFunction::GetCurrentPstate, handle, -1, gpu);
    if (status != NVAPI_OK)
        return status;
    if (!pstate)
        return NVAPI_INVALID_ARGUMENT;
    *pstate = static_cast<uint32_t>(valueOf(*gpu, SimReading::Pstate, 0, 15));
    return NVAPI_OK;
}

NvAPI_Status NVAPI_CALL simGetDynamicPstatesInfoEx(NvPhysicalGpuHandle handle,
                                                   NV_GPU_DYNAMIC_PSTATES_INFO_EX* info) {
    const SimGpu* gpu;
    NvAPI_Status status =
        beginRecordCall(SimFunction::GetDynamicPstatesInfoEx, handle, -1, info, SimRecord::Dynamic, gpu);
    if (status != NVAPI_OK)
        return status;
    NV_GPU_DYNAMIC_PSTATES_INFO_EX built{};
    built.flags = 1;
    const SimReading kLoads[4] = {SimReading::GpuLoad, SimReading::MemoryControllerLoad,
                                  SimReading::VideoEngineLoad, SimReading::BusInterfaceLoad};
    for (int i = 0; i < 4; ++i) {
        built.utilization[i].bIsPresent = 1;
        built.utilization[i].percentage = percent(*gpu, kLoads[i]);
    }
    deliver(info, built, sizeof built);
    return NVAPI_OK;
}

NvAPI_Status NVAPI_CALL simGetThermalSettings(NvPhysicalGpuHandle handle, uint32_t sensorIndex,
                                              NV_GPU_THERMAL_SETTINGS* settings) {
    const SimGpu* gpu;
    NvAPI_Status status = beginRecordCall(SimFunction::GetThermalSettings, handle,
                                          static_cast<int>(sensorIndex), settings, SimRecord::Thermal, gpu);
    if (status != NVAPI_OK)
        return status;
    if (sensorIndex != 0 && sensorIndex != NVAPI_THERMAL_TARGET_ALL)
        return NVAPI_INVALID_ARGUMENT; // one sensor
    NV_GPU_THERMAL_SETTINGS built{};
    built.count = 1;
    built.sensor[0].controller = 1; // GPU internal
    built.sensor[0].defaultMinTemp = 0;
    built.sensor[0].defaultMaxTemp = 127;
    built.sensor[0].currentTemp =
        static_cast<int32_t>(valueOf(*gpu, SimReading::Temperature, INT32_MIN, INT32_MAX));
    built.sensor[0].target = NVAPI_THERMAL_TARGET_GPU;
    deliver(settings, built, sizeof built);
    return NVAPI_OK;
}

NvAPI_Status NVAPI_CALL simGetMemoryInfo(NvPhysicalGpuHandle handle, NV_DISPLAY_DRIVER_MEMORY_INFO* memory) {
    const SimGpu* gpu;
    NvAPI_Status status =
        beginRecordCall(SimFunction::GetMemoryInfo, handle, -1, memory, SimRecord::Memory, gpu);
    if (status != NVAPI_OK)
        return status;
    NV_DISPLAY_DRIVER_MEMORY_INFO built{};
    uint32_t total = reading(*gpu, SimReading::MemoryTotal);
    uint32_t used = std::min(total, reading(*gpu, SimReading::MemoryUsed));
    built.dedicatedVideoMemory = total;
    if (!gpu->tcc) { // a TCC GPU fills in only the dedicated size
        built.availableDedicatedVideoMemory = total;
        built.sharedSystemMemory = 8388608;
        built.curAvailableDedicatedVideoMemory = total - used;
    }
    deliver(memory, built, nvapiVersionSize(memory->version));
    return NVAPI_OK;
}

NvAPI_Status NVAPI_CALL simGetPhysicalFrameBufferSize(NvPhysicalGpuHandle handle, uint32_t* sizeKb) {
    const SimGpu* gpu;
    NvAPI_Status status = beginGpuCall(SimFunction::GetPhysicalFrameBufferSize, handle, -1, gpu);
    if (status != NVAPI_OK)
        return status;
    if (!sizeKb)
        return NVAPI_INVALID_ARGUMENT;
    *sizeKb = reading(*gpu, SimReading::MemoryTotal);
    return NVAPI_OK;
}

NvAPI_Status NVAPI_CALL simGetConnectedDisplayIds(NvPhysicalGpuHandle handle, NV_GPU_DISPLAYIDS* displays,
                                                  uint32_t* count, uint32_t flags) {
    const SimGpu* gpu;
    NvAPI_Status status = beginGpuCall(SimFunction::GetConnectedDisplayIds, handle, -1, gpu);
    if (status != NVAPI_OK)
        return status;
    if (!count)
        return NVAPI_INVALID_ARGUMENT;
    if (gpu->tcc)
        return NVAPI_INVALID_HANDLE; // not offered for TCC GPUs
    if (!displays) {
        *count = gpu->displays;
        return NVAPI_OK;
    }
    uint32_t n = std::min(*count, gpu->displays);
    for (uint32_t i = 0; i < n; ++i) {
        if (!gpuAcceptsVersion(*gpu, SimRecord::DisplayIds, displays[i].version))
            return NVAPI_INCOMPATIBLE_STRUCT_VERSION;
    }
    for (uint32_t i = 0; i < n; ++i) {
        displays[i].connectorType = gpu->connector;
        displays[i].displayId = 0x1000u + 0x100u * static_cast<uint32_t>(gpu->index) + i;
        displays[i].flags = NV_GPU_DISPLAYIDS_FLAG_CONNECTED | NV_GPU_DISPLAYIDS_FLAG_PHYSICALLY_CONNECTED |
                            (1u << 2) | (1u << 4); // active, visible to the system
    }
    *count = n;
    return NVAPI_OK;
}

NvAPI_Status NVAPI_CALL simQueryCoolerStatus(NvPhysicalGpuHandle handle, uint32_t coolerIndex, void* record) {
    const SimGpu* gpu;
    NvAPI_Status status = beginRecordCall(SimFunction::QueryCoolerStatus, handle,
                                          static_cast<int>(coolerIndex), record, SimRecord::Cooler, gpu);
    if (status != NVAPI_OK)
        return status;
    if (gpu->coolers > 0 && coolerIndex >= gpu->coolers)
        return NVAPI_INVALID_ARGUMENT;
    CoolerStatusRecord built{};
    built.coolerCount = gpu->coolers;
    if (gpu->coolers > 0) {
        built.currentLevel = percent(*gpu, SimReading::FanLevel);
        built.currentRpm = reading(*gpu, SimReading::FanRpm);
        built.rpmValid = gpu->rpmFlag ? 1 : 0;
    }
    uint32_t version;
    std::memcpy(&version, record, 4);
    deliver(record, built, nvapiVersionSize(version));
    return NVAPI_OK;
}

NvAPI_Status NVAPI_CALL simQueryVoltageStatus(NvPhysicalGpuHandle handle, void* record) {
    const SimGpu* gpu;
    NvAPI_Status status =
        beginRecordCall(SimFunction::QueryVoltageStatus, handle, -1, record, SimRecord::Voltage, gpu);
    if (status != NVAPI_OK)
        return status;
    VoltageStatusRecord built{};
    built.value_uV = reading(*gpu, SimReading::CoreVoltage);
    deliver(record, built, sizeof built);
    return NVAPI_OK;
}

NvAPI_Status NVAPI_CALL simGpuUsageQuery(NvPhysicalGpuHandle handle, GpuUsageRecord* record) {
    const SimGpu* gpu;
    NvAPI_Status status =
        beginRecordCall(SimFunction::GpuUsageQuery, handle, -1, record, SimRecord::Usage, gpu);
    if (status != NVAPI_OK)
        return status;
    GpuUsageRecord built{};
    built.gpuUsage = percent(*gpu, SimReading::GpuLoad);
    deliver(record, built, sizeof built);
    return NVAPI_OK;
}

uint64_t cookieFor(uint32_t id) {
    return 0xC0DE000000000000ull | id;
}

NvAPI_Status NVAPI_CALL simEntryHook(uint32_t id, uint64_t* cookie) {
    gSimRuntime.calls[static_cast<int>(SimFunction::EntryHook)].fetch_add(1);
    if (cookie) {
        if (*cookie != 0)
            gSimRuntime.badCookies.fetch_add(1);
        *cookie = cookieFor(id);
    }
    return NVAPI_OK;
}

NvAPI_Status NVAPI_CALL simExitHook(uint32_t id, uint64_t cookie, NvAPI_Status) {
    gSimRuntime.calls[static_cast<int>(SimFunction::ExitHook)].fetch_add(1);
    if (cookie != cookieFor(id))
        gSimRuntime.badCookies.fetch_add(1);
    return NVAPI_OK;
}

// The conversion to the listed type checks each answer against its entry.
template <typename Function> void* answer(Function function) {
    return reinterpret_cast<void*>(function);
}

void* functionFor(SimFunction function) {
    switch (function) {
#define GAUGELINE_SIM_ANSWER(entry, name, id, field, params, args)                                           \
    case SimFunction::entry:                                                                                 \
        return answer<NvAPI_Status(NVAPI_CALL*) params>(sim##entry);
        GAUGELINE_NVAPI_CALLS(GAUGELINE_SIM_ANSWER)
#undef GAUGELINE_SIM_ANSWER
    case SimFunction::Initialize:
        return answer<NvAPI_VoidFn>(simInitialize);
    case SimFunction::Unload:
        return answer<NvAPI_VoidFn>(simUnload);
    case SimFunction::GpuUsageQuery:
        return answer<NvAPI_GpuUsageFn>(simGpuUsageQuery);
    case SimFunction::EntryHook:
        return gSimRuntime.scenario.entryHook ? answer<NvAPI_EntryHookFn>(simEntryHook) : nullptr;
    case SimFunction::ExitHook:
        return gSimRuntime.scenario.exitHook ? answer<NvAPI_ExitHookFn>(simExitHook) : nullptr;
    default:
        return nullptr;
    }
}
} // namespace

SIM_EXPORT void* NVAPI_CALL nvapi_QueryInterface(uint32_t id) {
    int function = findSimFunctionById(id);
    if (function < 0 || kSimFunctions[function].nvml) {
        gSimRuntime.otherLookups.fetch_add(1);
        return nullptr;
    }
    gSimRuntime.lookups[function].fetch_add(1);
    if (gSimRuntime.scenario.omitted[function])
        return nullptr;
    return functionFor(static_cast<SimFunction>(function));
}

// Test exports: call and lookup counts, reset, scenario reload.
GAUGELINE_SIM_TEST_EXPORTS(SIM_EXPORT)
SIM_EXPORT uint32_t gaugelineSimIdentity() {
#ifdef GAUGELINE_SIM_ALT
    return 2; // the copy built with another PE identity
#else
    return 1;
#endif
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        loadSimScenario(gSimRuntime);
        hideOmittedExports(instance, gSimRuntime, false);
    }
    return TRUE;
}
