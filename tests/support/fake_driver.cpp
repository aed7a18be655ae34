#include "tests/support/fake_driver.h"

#include <algorithm>
#include <cstring>
#include <utility>

FakeDriver gFake;

namespace {

FakeGpu* gpuAt(uintptr_t k) {
    return k == 0 || k > gFake.gpus.size() ? nullptr : &gFake.gpus[k - 1];
}

// Common start of a GPU call: the GPU behind the handle, then a record version
// the GPU rejects (every version tried is noted), then the status the test gave.
NvAPI_Status begin(NvPhysicalGpuHandle h, const void* record, NvAPI_Status FakeGpu::*status, FakeGpu*& g) {
    g = gpuAt(reinterpret_cast<uintptr_t>(h));
    if (!g)
        return NVAPI_INVALID_HANDLE;
    if (record) {
        uint32_t version;
        std::memcpy(&version, record, 4);
        gFake.triedVersions.push_back(version);
        if (g->rejected.count(version))
            return NVAPI_INCOMPATIBLE_STRUCT_VERSION;
    }
    return status ? g->*status : NVAPI_OK;
}

// A scalar answer, NvAPI's or NVML's (both succeed with 0): the status the test
// gave the GPU behind the handle, then its value.
template <typename T, typename V>
int32_t give(const void* handle, int32_t FakeGpu::*status, T* out, V FakeGpu::*value) {
    FakeGpu* g = gpuAt(reinterpret_cast<uintptr_t>(handle));
    if (g && g->*status == 0)
        *out = g->*value;
    return g ? g->*status : NVAPI_INVALID_HANDLE;
}

// Handles, GPU and NVML device alike, are the GPU positions plus one.
NvPhysicalGpuHandle fakeHandle(size_t k) {
    return reinterpret_cast<NvPhysicalGpuHandle>(k + 1);
}

NvAPI_Status initialize() {
    return gFake.initializeStatus;
}

NvAPI_Status enumerate(NvPhysicalGpuHandle* handles, uint32_t* count, bool tcc, NvAPI_Status status) {
    *count = 0;
    for (size_t k = 0; status == NVAPI_OK && k < gFake.gpus.size(); ++k) {
        if (gFake.gpus[k].tcc == tcc)
            handles[(*count)++] = fakeHandle(k);
    }
    return status;
}
NvAPI_Status enumPhysicalGpus(NvPhysicalGpuHandle* h, uint32_t* c) {
    return enumerate(h, c, false, gFake.enumStatus);
}
NvAPI_Status enumTccPhysicalGpus(NvPhysicalGpuHandle* h, uint32_t* c) {
    return enumerate(h, c, true, gFake.tccStatus);
}

NvAPI_Status getFullName(NvPhysicalGpuHandle h, char* name) {
    FakeGpu* g;
    NvAPI_Status status = begin(h, nullptr, &FakeGpu::nameStatus, g);
    if (status == NVAPI_OK) {
        // Fills all 64 bytes when the name is that long, as a careless driver might.
        std::memset(name, 0, NVAPI_SHORT_STRING_MAX);
        std::memcpy(name, g->name.data(), std::min<size_t>(g->name.size(), NVAPI_SHORT_STRING_MAX));
    }
    return status;
}

NvAPI_Status getBusId(NvPhysicalGpuHandle h, uint32_t* bus) {
    return give(h, &FakeGpu::busStatus, bus, &FakeGpu::busId);
}

NvAPI_Status getAllClockFrequencies(NvPhysicalGpuHandle h, NV_GPU_CLOCK_FREQUENCIES* c) {
    FakeGpu* g;
    NvAPI_Status status = begin(h, c, nullptr, g);
    uint32_t type = c->clockType & 0xF;
    if (status != NVAPI_OK || type > 2 || g->clockStatus[type] != NVAPI_OK)
        return status != NVAPI_OK ? status : type > 2 ? NVAPI_INVALID_ARGUMENT : g->clockStatus[type];
    const uint32_t ids[4] = {0, 4, 7, 8};
    const bool present[4] = {true, true, g->processorPresent, g->videoPresent};
    for (int d = 0; d < 4; ++d) {
        c->domain[ids[d]].bIsPresent = present[d] ? 1u : 0u;
        c->domain[ids[d]].frequency = g->clocks[type][d];
    }
    return NVAPI_OK;
}

NvAPI_Status getPstates20(NvPhysicalGpuHandle h, NV_GPU_PERF_PSTATES20_INFO* p) {
    FakeGpu* g;
    NvAPI_Status status = begin(h, p, &FakeGpu::pstatesStatus, g);
    if (status != NVAPI_OK)
        return status;
    p->numPstates = p->numBaseVoltages = 1;
    p->numClocks = static_cast<uint32_t>(g->pstateClocks.size());
    p->pstates[0].baseVoltages[0].volt_uV = g->baseVoltage;
    for (size_t k = 0; k < g->pstateClocks.size() && k < NVAPI_MAX_GPU_PSTATE20_CLOCKS; ++k) {
        NV_GPU_PSTATE20_CLOCK_ENTRY_V1& e = p->pstates[0].clocks[k];
        e.domainId = g->pstateClocks[k].domain;
        e.typeId = g->pstateClocks[k].type;
        e.data.range.minFreq_kHz = g->pstateClocks[k].freq;
        e.data.range.maxFreq_kHz = g->pstateClocks[k].type == 1 ? g->pstateClocks[k].maxFreq : 0;
    }
    return NVAPI_OK;
}

NvAPI_Status getCurrentPstate(NvPhysicalGpuHandle h, NV_GPU_PERF_PSTATE_ID* id) {
    return give(h, &FakeGpu::pstateStatus, id, &FakeGpu::pstate);
}

NvAPI_Status getDynamicPstatesInfoEx(NvPhysicalGpuHandle h, NV_GPU_DYNAMIC_PSTATES_INFO_EX* info) {
    FakeGpu* g;
    NvAPI_Status status = begin(h, nullptr, nullptr, g);
    if (status == NVAPI_OK && info->version != NV_GPU_DYNAMIC_PSTATES_INFO_EX_VER)
        status = NVAPI_INCOMPATIBLE_STRUCT_VERSION;
    if (status != NVAPI_OK || (status = g->dynamicStatus[gFake.dynamicCalls++ % 3]) != NVAPI_OK)
        return status;
    for (int d = 0; d < 4; ++d) {
        info->utilization[d].bIsPresent = 1;
        info->utilization[d].percentage = g->utilisation[d];
    }
    return NVAPI_OK;
}

NvAPI_Status getThermalSettings(NvPhysicalGpuHandle h, uint32_t sensor, NV_GPU_THERMAL_SETTINGS* t) {
    FakeGpu* g;
    NvAPI_Status status = sensor != 0 ? NVAPI_INVALID_ARGUMENT : begin(h, t, &FakeGpu::thermalStatus, g);
    if (status == NVAPI_OK)
        t->sensor[0].currentTemp = g->temperature;
    return status;
}

NvAPI_Status getMemoryInfo(NvPhysicalGpuHandle h, NV_DISPLAY_DRIVER_MEMORY_INFO* m) {
    FakeGpu* g;
    NvAPI_Status status = begin(h, m, &FakeGpu::memoryInfoStatus, g);
    if (status == NVAPI_OK) {
        m->dedicatedVideoMemory = g->dedicatedKb;
        if (m->version == NV_DISPLAY_DRIVER_MEMORY_INFO_VER_2)
            m->curAvailableDedicatedVideoMemory = g->curAvailableKb;
    }
    return status;
}

NvAPI_Status getPhysicalFrameBufferSize(NvPhysicalGpuHandle h, uint32_t* kb) {
    return give(h, &FakeGpu::frameBufferStatus, kb, &FakeGpu::frameBufferKb);
}

NvAPI_Status getConnectedDisplayIds(NvPhysicalGpuHandle h, NV_GPU_DISPLAYIDS* displays, uint32_t* count,
                                    uint32_t flags) {
    FakeGpu* g;
    NvAPI_Status status = flags != 0 ? NVAPI_INVALID_ARGUMENT : begin(h, nullptr, nullptr, g);
    if (status != NVAPI_OK || !displays) {
        if (status == NVAPI_OK)
            *count = 1;
        return status;
    }
    ++g->displayCalls;
    if (g->displayStatus != NVAPI_OK || displays[0].version != NV_GPU_DISPLAYIDS_VER1)
        return g->displayStatus != NVAPI_OK ? g->displayStatus : NVAPI_INCOMPATIBLE_STRUCT_VERSION;
    // DP and HDMI on alternate calls when asked for.
    displays[0].connectorType = !g->alternateConnector ? g->connector
                                : g->displayCalls % 2  ? NV_MONITOR_CONN_TYPE_DP
                                                       : NV_MONITOR_CONN_TYPE_HDMI;
    displays[0].flags = NV_GPU_DISPLAYIDS_FLAG_CONNECTED;
    return NVAPI_OK;
}

NvAPI_Status queryCoolerStatus(NvPhysicalGpuHandle h, uint32_t index, void* record) {
    FakeGpu* g;
    NvAPI_Status status = index != 0 ? NVAPI_INVALID_ARGUMENT : begin(h, record, &FakeGpu::coolerStatus, g);
    if (status == NVAPI_OK) {
        auto* r = static_cast<CoolerStatusRecord*>(record);
        r->coolerCount = g->coolerCount;
        r->currentLevel = g->fanLevel;
        r->currentRpm = g->fanRpm;
        r->rpmValid = g->rpmValid;
    }
    return status;
}

NvAPI_Status queryVoltageStatus(NvPhysicalGpuHandle h, void* record) {
    FakeGpu* g;
    auto* r = static_cast<VoltageStatusRecord*>(record);
    NvAPI_Status status = r->version != kVoltageStatusVersion ? NVAPI_INVALID_ARGUMENT
                                                              : begin(h, nullptr, &FakeGpu::voltageStatus, g);
    if (status == NVAPI_OK)
        r->value_uV = g->voltage;
    return status;
}

// The driver library's own functions, reached through the direct lookup.
NvAPI_Status NVAPI_CALL directUsage(NvPhysicalGpuHandle h, GpuUsageRecord* r) {
    return r->version != kGpuUsageVersion ? NVAPI_INVALID_HANDLE
                                          : give(h, &FakeGpu::usageStatus, &r->gpuUsage, &FakeGpu::gpuUsage);
}
void* NVAPI_CALL directQuery(uint32_t id) {
    if (gFake.directMissing.count(id))
        return nullptr;
    if (id == nvapi_id::NvAPI_Initialize)
        return reinterpret_cast<void*>(&initialize);
    if (id == nvapi_id::NvAPI_EnumPhysicalGPUs)
        return reinterpret_cast<void*>(&enumPhysicalGpus);
    return id == nvapi_id::GpuUsageQuery ? reinterpret_cast<void*>(&directUsage) : nullptr;
}
NvAPI_QueryInterfaceFn directQueryInterface() {
    return &directQuery;
}

namespace nvml {
nvmlReturn_t init() {
    ++gFake.nvmlInitCalls;
    return gFake.nvmlInitStatus;
}
nvmlReturn_t getHandleByIndex(uint32_t index, nvmlDevice_t* d) {
    if (index >= gFake.gpus.size())
        return NVML_ERROR_INVALID_ARGUMENT;
    *d = reinterpret_cast<nvmlDevice_t>(static_cast<uintptr_t>(index + 1));
    return NVML_SUCCESS;
}
nvmlReturn_t getMemoryInfo(nvmlDevice_t d, nvmlMemory_t* m) {
    return give(d, &FakeGpu::nvmlMemoryStatus, m, &FakeGpu::nvmlMemory);
}
nvmlReturn_t getPowerUsage(nvmlDevice_t d, uint32_t* v) {
    return give(d, &FakeGpu::nvmlPowerStatus, v, &FakeGpu::nvmlPower);
}
nvmlReturn_t getPowerManagementLimit(nvmlDevice_t d, uint32_t* v) {
    return give(d, &FakeGpu::nvmlLimitStatus, v, &FakeGpu::nvmlLimit);
}
nvmlReturn_t getEnforcedPowerLimit(nvmlDevice_t d, uint32_t* v) {
    return give(d, &FakeGpu::nvmlEnforcedLimitStatus, v, &FakeGpu::nvmlEnforcedLimit);
}
nvmlReturn_t getPciInfo(nvmlDevice_t d, nvmlPciInfo_t* p) {
    return give(d, &FakeGpu::nvmlPciStatus, &p->bus, &FakeGpu::nvmlBus);
}
nvmlReturn_t getDriverModel(nvmlDevice_t d, nvmlDriverModel_t* current, nvmlDriverModel_t* pending) {
    give(d, &FakeGpu::nvmlDriverModelStatus, pending, &FakeGpu::nvmlDriverModel);
    return give(d, &FakeGpu::nvmlDriverModelStatus, current, &FakeGpu::nvmlDriverModel);
}
} // namespace nvml

// By export name, as the Windows Agent binds the real library.
void* lookupNvml(void*, const char* name) {
    const std::pair<const char*, void*> exports[] = {
        {"nvmlInit", reinterpret_cast<void*>(nvml::init)},
        {"nvmlDeviceGetHandleByIndex", reinterpret_cast<void*>(nvml::getHandleByIndex)},
        {"nvmlDeviceGetMemoryInfo", reinterpret_cast<void*>(nvml::getMemoryInfo)},
        {"nvmlDeviceGetPowerUsage", reinterpret_cast<void*>(nvml::getPowerUsage)},
        {"nvmlDeviceGetPowerManagementLimit", reinterpret_cast<void*>(nvml::getPowerManagementLimit)},
        {"nvmlDeviceGetEnforcedPowerLimit", reinterpret_cast<void*>(nvml::getEnforcedPowerLimit)},
        {"nvmlDeviceGetPciInfo", reinterpret_cast<void*>(nvml::getPciInfo)},
        {"nvmlDeviceGetDriverModel", reinterpret_cast<void*>(nvml::getDriverModel)},
    };
    for (const auto& e : exports)
        if (std::strcmp(e.first, name) == 0 && !gFake.nvmlMissing.count(name))
            return e.second;
    return nullptr;
}

bool loadNvml(NvmlApi* api) {
    *api = NvmlApi{};
    if (!gFake.nvmlLoads)
        return false;
    bindNvml(api, lookupNvml, nullptr, NvmlGeneration::Oldest);
    return true;
}

void sleepMs(int ms) {
    gFake.sleepMs.push_back(ms);
}

} // namespace

void resetFakeDriver() {
    gFake = FakeDriver{};
}

const DriverTable& fakeDriverTable() {
    static const DriverTable table = [] {
        DriverTable t;
        t.initialize = initialize;
#define GAUGELINE_FAKE_ENTRY(entry, name, id, field, params, args) t.field = field;
        GAUGELINE_NVAPI_CALLS(GAUGELINE_FAKE_ENTRY)
#undef GAUGELINE_FAKE_ENTRY
        t.directQueryInterface = directQueryInterface;
        t.loadNvml = loadNvml;
        t.sleepMs = sleepMs;
        return t;
    }();
    return table;
}
