#include "tests/support/fake_driver.h"

#include <cstddef>
#include <cstring>

FakeDriver gFake;

namespace {

FakeGpu* gpuOf(NvPhysicalGpuHandle h) {
    uintptr_t k = reinterpret_cast<uintptr_t>(h);
    if (k == 0 || k > gFake.gpus.size())
        return nullptr;
    return &gFake.gpus[k - 1];
}

bool rejects(const FakeGpu& g, uint32_t version) {
    gFake.triedVersions.push_back(version);
    return g.rejected.count(version) != 0;
}

NvAPI_Status initialize() {
    return gFake.initializeStatus;
}

NvAPI_Status enumerate(NvPhysicalGpuHandle* handles, uint32_t* count, bool tcc, NvAPI_Status status) {
    if (status != NVAPI_OK)
        return status;
    uint32_t n = 0;
    for (size_t k = 0; k < gFake.gpus.size(); ++k)
        if (gFake.gpus[k].tcc == tcc)
            handles[n++] = fakeHandle(static_cast<int>(k));
    *count = n;
    return NVAPI_OK;
}
NvAPI_Status enumPhysicalGpus(NvPhysicalGpuHandle* h, uint32_t* c) {
    return enumerate(h, c, false, gFake.enumStatus);
}
NvAPI_Status enumTccPhysicalGpus(NvPhysicalGpuHandle* h, uint32_t* c) {
    return enumerate(h, c, true, gFake.tccStatus);
}

NvAPI_Status getFullName(NvPhysicalGpuHandle h, char* name) {
    FakeGpu* g = gpuOf(h);
    if (!g)
        return NVAPI_INVALID_HANDLE;
    if (g->nameStatus != NVAPI_OK)
        return g->nameStatus;
    // Fills all 64 bytes when the name is that long, as a careless driver might.
    std::memset(name, 0, NVAPI_SHORT_STRING_MAX);
    std::memcpy(name, g->name.data(), g->name.size() < 64 ? g->name.size() : 64);
    return NVAPI_OK;
}

NvAPI_Status getBusId(NvPhysicalGpuHandle h, uint32_t* bus) {
    FakeGpu* g = gpuOf(h);
    if (!g || g->busStatus != NVAPI_OK)
        return g ? g->busStatus : NVAPI_INVALID_HANDLE;
    *bus = g->busId;
    return NVAPI_OK;
}

NvAPI_Status getAllClockFrequencies(NvPhysicalGpuHandle h, NV_GPU_CLOCK_FREQUENCIES* c) {
    FakeGpu* g = gpuOf(h);
    if (!g)
        return NVAPI_INVALID_HANDLE;
    if (rejects(*g, c->version))
        return NVAPI_INCOMPATIBLE_STRUCT_VERSION;
    uint32_t type = c->clockType & 0xF;
    if (type > 2)
        return NVAPI_INVALID_ARGUMENT;
    if (g->clockStatus[type] != NVAPI_OK)
        return g->clockStatus[type];
    const uint32_t ids[4] = {0, 4, 7, 8};
    const bool presentBits[4] = {true, true, g->processorPresent, g->videoPresent};
    for (int d = 0; d < 4; ++d) {
        c->domain[ids[d]].bIsPresent = presentBits[d] ? 1u : 0u;
        c->domain[ids[d]].frequency = g->clocks[type][d];
    }
    return NVAPI_OK;
}

NvAPI_Status getPstates20(NvPhysicalGpuHandle h, NV_GPU_PERF_PSTATES20_INFO* p) {
    FakeGpu* g = gpuOf(h);
    if (!g)
        return NVAPI_INVALID_HANDLE;
    if (rejects(*g, p->version))
        return NVAPI_INCOMPATIBLE_STRUCT_VERSION;
    if (g->pstatesStatus != NVAPI_OK)
        return g->pstatesStatus;
    p->numPstates = 1;
    p->numClocks = static_cast<uint32_t>(g->pstateClocks.size());
    p->numBaseVoltages = 1;
    p->pstates[0].pstateId = 0;
    p->pstates[0].baseVoltages[0].volt_uV = g->baseVoltage;
    auto* record = reinterpret_cast<uint8_t*>(p);
    size_t at = offsetof(NV_GPU_PERF_PSTATES20_INFO, pstates[0].clocks);
    for (const FakeClockEntry& c : g->pstateClocks) {
        NV_GPU_PSTATE20_CLOCK_ENTRY_V1 e{};
        e.domainId = c.domain;
        e.typeId = c.type;
        e.data.range.minFreq_kHz = c.freq;
        if (e.typeId == 1)
            e.data.range.maxFreq_kHz = c.maxFreq;
        if (at + sizeof e > sizeof *p)
            break;
        std::memcpy(record + at, &e, sizeof e);
        at += sizeof e;
    }
    return NVAPI_OK;
}

NvAPI_Status getCurrentPstate(NvPhysicalGpuHandle h, NV_GPU_PERF_PSTATE_ID* id) {
    FakeGpu* g = gpuOf(h);
    if (!g || g->pstateStatus != NVAPI_OK)
        return g ? g->pstateStatus : NVAPI_INVALID_HANDLE;
    *id = g->pstate;
    return NVAPI_OK;
}

int gDynamicCall = 0;
NvAPI_Status getDynamicPstatesInfoEx(NvPhysicalGpuHandle h, NV_GPU_DYNAMIC_PSTATES_INFO_EX* info) {
    FakeGpu* g = gpuOf(h);
    if (!g)
        return NVAPI_INVALID_HANDLE;
    if (info->version != NV_GPU_DYNAMIC_PSTATES_INFO_EX_VER)
        return NVAPI_INCOMPATIBLE_STRUCT_VERSION;
    NvAPI_Status status = g->dynamicStatus[gDynamicCall++ % 3];
    if (status != NVAPI_OK)
        return status;
    for (int d = 0; d < 4; ++d) {
        info->utilization[d].bIsPresent = 1;
        info->utilization[d].percentage = g->utilisation[d];
    }
    return NVAPI_OK;
}

NvAPI_Status getThermalSettings(NvPhysicalGpuHandle h, uint32_t sensor, NV_GPU_THERMAL_SETTINGS* t) {
    FakeGpu* g = gpuOf(h);
    if (!g || sensor != 0)
        return NVAPI_INVALID_ARGUMENT;
    if (rejects(*g, t->version))
        return NVAPI_INCOMPATIBLE_STRUCT_VERSION;
    if (g->thermalStatus != NVAPI_OK)
        return g->thermalStatus;
    t->count = 1;
    t->sensor[0].currentTemp = g->temperature;
    return NVAPI_OK;
}

NvAPI_Status getMemoryInfo(NvPhysicalGpuHandle h, NV_DISPLAY_DRIVER_MEMORY_INFO* m) {
    FakeGpu* g = gpuOf(h);
    if (!g)
        return NVAPI_INVALID_HANDLE;
    if (rejects(*g, m->version))
        return NVAPI_INCOMPATIBLE_STRUCT_VERSION;
    if (g->memoryInfoStatus != NVAPI_OK)
        return g->memoryInfoStatus;
    m->dedicatedVideoMemory = g->dedicatedKb;
    if (m->version == NV_DISPLAY_DRIVER_MEMORY_INFO_VER_2)
        m->curAvailableDedicatedVideoMemory = g->curAvailableKb;
    return NVAPI_OK;
}

NvAPI_Status getPhysicalFrameBufferSize(NvPhysicalGpuHandle h, uint32_t* kb) {
    FakeGpu* g = gpuOf(h);
    ++gFake.frameBufferCalls;
    if (!g || g->frameBufferStatus != NVAPI_OK)
        return g ? g->frameBufferStatus : NVAPI_INVALID_HANDLE;
    *kb = g->frameBufferKb;
    return NVAPI_OK;
}

NvAPI_Status getConnectedDisplayIds(NvPhysicalGpuHandle h, NV_GPU_DISPLAYIDS* displays, uint32_t* count,
                                    uint32_t flags) {
    FakeGpu* g = gpuOf(h);
    if (!g || flags != 0)
        return NVAPI_INVALID_ARGUMENT;
    if (!displays) {
        if (g->displayCountStatus != NVAPI_OK)
            return g->displayCountStatus;
        *count = g->displayCount;
        return NVAPI_OK;
    }
    ++g->displayCalls;
    if (g->displayStatus != NVAPI_OK)
        return g->displayStatus;
    for (uint32_t k = 0; k < *count && k < g->displayCount; ++k) {
        if (displays[k].version != NV_GPU_DISPLAYIDS_VER1)
            return NVAPI_INCOMPATIBLE_STRUCT_VERSION;
        int32_t first = g->alternateConnector
                            ? (g->displayCalls % 2 ? NV_MONITOR_CONN_TYPE_DP : NV_MONITOR_CONN_TYPE_HDMI)
                            : g->connector;
        displays[k].connectorType = k == 0 ? first : NV_MONITOR_CONN_TYPE_VGA;
        displays[k].flags = NV_GPU_DISPLAYIDS_FLAG_CONNECTED;
    }
    return NVAPI_OK;
}

NvAPI_Status queryCoolerStatus(NvPhysicalGpuHandle h, uint32_t index, void* record) {
    FakeGpu* g = gpuOf(h);
    if (!g || index != 0)
        return NVAPI_INVALID_ARGUMENT;
    CoolerStatusRecord* r = static_cast<CoolerStatusRecord*>(record);
    if (rejects(*g, r->version))
        return NVAPI_INCOMPATIBLE_STRUCT_VERSION;
    if (g->coolerStatus != NVAPI_OK)
        return g->coolerStatus;
    r->coolerCount = g->coolerCount;
    r->currentLevel = g->fanLevel;
    r->currentRpm = g->fanRpm;
    r->rpmValid = g->rpmValid;
    return NVAPI_OK;
}

NvAPI_Status queryVoltageStatus(NvPhysicalGpuHandle h, void* record) {
    FakeGpu* g = gpuOf(h);
    VoltageStatusRecord* r = static_cast<VoltageStatusRecord*>(record);
    if (!g || r->version != kVoltageStatusVersion)
        return NVAPI_INVALID_ARGUMENT;
    if (g->voltageStatus != NVAPI_OK)
        return g->voltageStatus;
    r->value_uV = g->voltage;
    return NVAPI_OK;
}

// The driver library's own functions, reached through the direct lookup.
NvAPI_Status NVAPI_CALL directInitialize() {
    return NVAPI_OK;
}
NvAPI_Status NVAPI_CALL directEnum(NvPhysicalGpuHandle* h, uint32_t* c) {
    return enumerate(h, c, false, gFake.enumStatus);
}
NvAPI_Status NVAPI_CALL directUsage(NvPhysicalGpuHandle h, GpuUsageRecord* r) {
    gFake.usageHandles.push_back(reinterpret_cast<uintptr_t>(h));
    FakeGpu* g = gpuOf(h);
    if (!g || r->version != kGpuUsageVersion)
        return NVAPI_INVALID_HANDLE;
    if (g->usageStatus != NVAPI_OK)
        return g->usageStatus;
    r->gpuUsage = g->gpuUsage;
    return NVAPI_OK;
}
void* NVAPI_CALL directQuery(uint32_t id) {
    if (gFake.directMissing.count(id))
        return nullptr;
    switch (id) {
    case nvapi_id::NvAPI_Initialize:
        return reinterpret_cast<void*>(&directInitialize);
    case nvapi_id::NvAPI_EnumPhysicalGPUs:
        return reinterpret_cast<void*>(&directEnum);
    case nvapi_id::GpuUsageQuery:
        return reinterpret_cast<void*>(&directUsage);
    default:
        return nullptr;
    }
}
NvAPI_QueryInterfaceFn directLookup() {
    return gFake.directLibrary ? &directQuery : nullptr;
}

// NVML: device handles are the GPU positions plus one.
namespace nvml {
FakeGpu* nvmlGpu(nvmlDevice_t d) {
    uintptr_t k = reinterpret_cast<uintptr_t>(d);
    if (k == 0 || k > gFake.gpus.size())
        return nullptr;
    return &gFake.gpus[k - 1];
}
nvmlReturn_t init() {
    ++gFake.nvmlInitCalls;
    return gFake.nvmlInitStatus;
}
nvmlReturn_t getHandleByIndex(uint32_t index, nvmlDevice_t* d) {
    if (index >= gFake.gpus.size())
        return NVML_ERROR_INVALID_ARGUMENT;
    if (gFake.gpus[index].nvmlHandleStatus != NVML_SUCCESS)
        return gFake.gpus[index].nvmlHandleStatus;
    *d = reinterpret_cast<nvmlDevice_t>(static_cast<uintptr_t>(index + 1));
    return NVML_SUCCESS;
}
nvmlReturn_t getMemoryInfo(nvmlDevice_t d, nvmlMemory_t* m) {
    ++gFake.nvmlMemoryCalls;
    FakeGpu* g = nvmlGpu(d);
    if (!g || g->nvmlMemoryStatus != NVML_SUCCESS)
        return g ? g->nvmlMemoryStatus : NVML_ERROR_INVALID_ARGUMENT;
    m->total = g->nvmlTotalBytes;
    m->used = g->nvmlUsedBytes;
    m->free = g->nvmlTotalBytes - g->nvmlUsedBytes;
    return NVML_SUCCESS;
}
nvmlReturn_t getPowerUsage(nvmlDevice_t d, uint32_t* v) {
    FakeGpu* g = nvmlGpu(d);
    if (!g || g->nvmlPowerStatus != NVML_SUCCESS)
        return g ? g->nvmlPowerStatus : NVML_ERROR_INVALID_ARGUMENT;
    *v = g->nvmlPower;
    return NVML_SUCCESS;
}
nvmlReturn_t getPowerManagementLimit(nvmlDevice_t d, uint32_t* v) {
    FakeGpu* g = nvmlGpu(d);
    if (!g || g->nvmlLimitStatus != NVML_SUCCESS)
        return g ? g->nvmlLimitStatus : NVML_ERROR_INVALID_ARGUMENT;
    *v = g->nvmlLimit;
    return NVML_SUCCESS;
}
nvmlReturn_t getPciInfo(nvmlDevice_t d, nvmlPciInfo_t* p) {
    FakeGpu* g = nvmlGpu(d);
    if (!g || g->nvmlPciStatus != NVML_SUCCESS)
        return g ? g->nvmlPciStatus : NVML_ERROR_INVALID_ARGUMENT;
    p->bus = g->nvmlBus;
    return NVML_SUCCESS;
}
nvmlReturn_t getDriverModel(nvmlDevice_t d, nvmlDriverModel_t* current, nvmlDriverModel_t* pending) {
    ++gFake.driverModelCalls;
    FakeGpu* g = nvmlGpu(d);
    if (!g || g->nvmlDriverModelStatus != NVML_SUCCESS)
        return g ? g->nvmlDriverModelStatus : NVML_ERROR_INVALID_ARGUMENT;
    *current = g->nvmlDriverModel;
    *pending = g->nvmlDriverModel;
    return NVML_SUCCESS;
}

} // namespace nvml

bool loadNvml(NvmlApi* api) {
    *api = NvmlApi{};
    if (!gFake.nvmlLoads)
        return false;
#define GAUGELINE_FAKE_NVML(name, field, params)                                                             \
    api->field = gFake.nvmlMissing.count("nvml" #name) ? nullptr : nvml::field;
    GAUGELINE_NVML_CALLS(GAUGELINE_FAKE_NVML)
#undef GAUGELINE_FAKE_NVML
    return true;
}

void sleepMs(int ms) {
    ++gFake.sleeps;
    gFake.sleepMs.push_back(ms);
}

} // namespace

NvPhysicalGpuHandle fakeHandle(int k) {
    return reinterpret_cast<NvPhysicalGpuHandle>(static_cast<uintptr_t>(k + 1));
}

void resetFakeDriver() {
    gFake = FakeDriver{};
    gDynamicCall = 0;
}

const DriverTable& fakeDriverTable() {
    static const DriverTable table = [] {
        DriverTable t;
        t.initialize = initialize;
#define GAUGELINE_FAKE_ENTRY(entry, name, id, field, params, args) t.field = field;
        GAUGELINE_NVAPI_CALLS(GAUGELINE_FAKE_ENTRY)
#undef GAUGELINE_FAKE_ENTRY
        t.directQueryInterface = directLookup;
        t.loadNvml = loadNvml;
        t.sleepMs = sleepMs;
        return t;
    }();
    return table;
}
