#include "agent/windows/sampler.h"

#include "agent/core/tab_label.h"

#include <cstring>
#include <memory>
#include <new>

namespace {

constexpr std::memory_order kRelaxed = std::memory_order_relaxed;
// A driver that reports more displays than this is not believed; the label
// then stays as it was.
constexpr uint32_t kMaxDisplayIds = 64;

template <typename T> void store(std::atomic<T>& field, T value) {
    field.store(value, kRelaxed);
}
template <typename T> T load(const std::atomic<T>& field) {
    return field.load(kRelaxed);
}

bool present(const NV_GPU_CLOCK_DOMAIN& d) {
    return (d.bIsPresent & 1u) != 0;
}

NvAPI_Status readClocks(const DriverTable& driver, NvPhysicalGpuHandle h, uint32_t version, uint32_t type,
                        NV_GPU_CLOCK_FREQUENCIES* clocks) {
    std::memset(clocks, 0, sizeof *clocks);
    clocks->version = version;
    clocks->clockType = type;
    return driver.getAllClockFrequencies ? driver.getAllClockFrequencies(h, clocks) : NVAPI_NO_IMPLEMENTATION;
}

// The P-state table is 7 KB: it lives on the heap for one call only.
std::unique_ptr<NV_GPU_PERF_PSTATES20_INFO> readPstates(const DriverTable& driver, NvPhysicalGpuHandle h,
                                                        uint32_t version) {
    if (!driver.getPstates20)
        return nullptr;
    std::unique_ptr<NV_GPU_PERF_PSTATES20_INFO> table(new (std::nothrow) NV_GPU_PERF_PSTATES20_INFO);
    if (!table)
        return nullptr;
    std::memset(table.get(), 0, sizeof *table);
    table->version = version;
    if (driver.getPstates20(h, table.get()) != NVAPI_OK)
        return nullptr;
    return table;
}

// Each step below says whether a driver call of the slot gave a reading.
bool currentClocks(SharedSample& s, const DriverTable& driver, NvPhysicalGpuHandle h, uint32_t version) {
    NV_GPU_CLOCK_FREQUENCIES c;
    if (readClocks(driver, h, version, NV_GPU_CLOCK_FREQUENCIES_CURRENT_FREQ, &c) != NVAPI_OK)
        return false;
    store(s.graphicsClockSupported, 1u);
    store(s.memoryClockSupported, 1u);
    store(s.graphicsClock, c.domain[NVAPI_GPU_PUBLIC_CLOCK_GRAPHICS].frequency);
    store(s.memoryClock, c.domain[NVAPI_GPU_PUBLIC_CLOCK_MEMORY].frequency);
    if (present(c.domain[NVAPI_GPU_PUBLIC_CLOCK_PROCESSOR])) {
        store(s.processorClockSupported, 1u);
        store(s.processorClock, c.domain[NVAPI_GPU_PUBLIC_CLOCK_PROCESSOR].frequency);
    }
    if (present(c.domain[NVAPI_GPU_PUBLIC_CLOCK_VIDEO])) {
        store(s.videoClockSupported, 1u);
        store(s.videoClock, c.domain[NVAPI_GPU_PUBLIC_CLOCK_VIDEO].frequency);
    }
    return true;
}

bool baseClocks(SharedSample& s, const DriverTable& driver, NvPhysicalGpuHandle h, uint32_t clockVersion,
                uint32_t pstatesVersion) {
    NV_GPU_CLOCK_FREQUENCIES c;
    if (readClocks(driver, h, clockVersion, NV_GPU_CLOCK_FREQUENCIES_BASE_CLOCK, &c) == NVAPI_OK) {
        store(s.graphicsClockRated, c.domain[NVAPI_GPU_PUBLIC_CLOCK_GRAPHICS].frequency);
        store(s.memoryClockRated, c.domain[NVAPI_GPU_PUBLIC_CLOCK_MEMORY].frequency);
        store(s.processorClockRated, c.domain[NVAPI_GPU_PUBLIC_CLOCK_PROCESSOR].frequency);
        store(s.videoClockRated, c.domain[NVAPI_GPU_PUBLIC_CLOCK_VIDEO].frequency);
        return true;
    }
    auto table = readPstates(driver, h, pstatesVersion);
    if (!table)
        return false;
    const NV_GPU_PSTATE20_ENTRY& first = table->pstates[0];
    uint32_t clockCount =
        table->numClocks < NVAPI_MAX_GPU_PSTATE20_CLOCKS ? table->numClocks : NVAPI_MAX_GPU_PSTATE20_CLOCKS;
    bool seen[4] = {};
    for (uint32_t j = 0; j < clockCount; ++j) {
        const NV_GPU_PSTATE20_CLOCK_ENTRY_V1& e = first.clocks[j];
        uint32_t single = e.data.single.freq_kHz;
        uint32_t upper = e.data.range.maxFreq_kHz;
        uint32_t wide = single > 0 ? single : upper;
        switch (e.domainId) {
        case NVAPI_GPU_PUBLIC_CLOCK_GRAPHICS:
            if (!seen[0])
                store(s.graphicsClockRated, single);
            seen[0] = true;
            break;
        case NVAPI_GPU_PUBLIC_CLOCK_MEMORY:
            if (!seen[1])
                store(s.memoryClockRated, single);
            seen[1] = true;
            break;
        case NVAPI_GPU_PUBLIC_CLOCK_PROCESSOR:
            if (!seen[2] && wide != 0)
                store(s.processorClockRated, wide);
            seen[2] = true;
            break;
        case NVAPI_GPU_PUBLIC_CLOCK_VIDEO:
            if (!seen[3] && wide != 0)
                store(s.videoClockRated, wide);
            seen[3] = true;
            break;
        default:
            break;
        }
    }
    return true;
}

bool boostClocks(SharedSample& s, const DriverTable& driver, NvPhysicalGpuHandle h, uint32_t version) {
    NV_GPU_CLOCK_FREQUENCIES c;
    if (readClocks(driver, h, version, NV_GPU_CLOCK_FREQUENCIES_BOOST_CLOCK, &c) != NVAPI_OK)
        return false;
    auto grow = [](std::atomic<uint32_t>& scale, uint32_t a, uint32_t b) {
        uint32_t v = load(scale);
        if (a > v)
            v = a;
        if (b > v)
            v = b;
        store(scale, v);
    };
    grow(s.graphicsClockScale, load(s.graphicsClock), c.domain[NVAPI_GPU_PUBLIC_CLOCK_GRAPHICS].frequency);
    grow(s.memoryClockScale, load(s.memoryClock), c.domain[NVAPI_GPU_PUBLIC_CLOCK_MEMORY].frequency);
    return true;
}

// The GPU usage query has no binding entry: it is looked up in the driver
// library directly, and asked with the slot's own handle (the TCC GPUs, which
// the library's enumeration leaves out, included).
bool gpuLoad(SharedSample& s, const DriverTable& driver, NvPhysicalGpuHandle h) {
    NvAPI_QueryInterfaceFn query = driver.directQueryInterface ? driver.directQueryInterface() : nullptr;
    if (!query)
        return false;
    void* initialize = query(nvapi_id::NvAPI_Initialize);
    void* enumerate = query(nvapi_id::NvAPI_EnumPhysicalGPUs);
    auto usage = reinterpret_cast<NvAPI_GpuUsageFn>(query(nvapi_id::GpuUsageQuery));
    if (!initialize || !enumerate || !usage)
        return false;
    GpuUsageRecord record;
    std::memset(&record, 0, sizeof record);
    record.version = kGpuUsageVersion;
    if (usage(h, &record) != NVAPI_OK)
        return false;
    store(s.gpuLoadSupported, 1u);
    store(s.gpuLoad, static_cast<int32_t>(record.gpuUsage));
    return true;
}

bool memory(SharedSample& s, const DriverTable& driver, NvPhysicalGpuHandle h, uint32_t version,
            const NvmlApi& nvml, const nvmlDevice_t* device) {
    int32_t model = load(s.driverModel);
    if (model == NVML_DRIVER_WDDM) {
        uint32_t sizeKb = 0;
        if (!driver.getPhysicalFrameBufferSize || driver.getPhysicalFrameBufferSize(h, &sizeKb) != NVAPI_OK)
            return false;
        store(s.memoryTotal, sizeKb);
        NV_DISPLAY_DRIVER_MEMORY_INFO info;
        std::memset(&info, 0, sizeof info);
        info.version = version;
        if (!driver.getMemoryInfo || driver.getMemoryInfo(h, &info) != NVAPI_OK)
            return true;
        // More available than present gives no figure of use: the last one stands.
        if (info.curAvailableDedicatedVideoMemory > info.dedicatedVideoMemory)
            return true;
        store(s.memoryUsageSupported, 1u);
        store(s.memoryUsage, info.dedicatedVideoMemory - info.curAvailableDedicatedVideoMemory);
        return true;
    }
    if (model == NVML_DRIVER_WDM && device) {
        nvmlMemory_t m;
        std::memset(&m, 0, sizeof m);
        if (!nvml.getMemoryInfo || nvml.getMemoryInfo(*device, &m) != NVML_SUCCESS)
            return false;
        store(s.memoryUsageSupported, 1u);
        store(s.memoryTotal, static_cast<uint32_t>(m.total / 1024));
        store(s.memoryUsage, static_cast<uint32_t>(m.used / 1024));
        return true;
    }
    return false;
}

bool temperature(SharedSample& s, const DriverTable& driver, NvPhysicalGpuHandle h, uint32_t version) {
    NV_GPU_THERMAL_SETTINGS t;
    std::memset(&t, 0, sizeof t);
    t.version = version;
    if (!driver.getThermalSettings || driver.getThermalSettings(h, 0, &t) != NVAPI_OK)
        return false;
    store(s.temperatureSupported, 1u);
    store(s.temperature, t.sensor[0].currentTemp);
    return true;
}

// NVML numbers its devices in its own order (by PCI bus), which is not the
// slots' order when TCC and display GPUs are mixed: the slot's device is the
// one on the slot's bus. Only a bus number NVML actually reported can match; a
// failed lookup leaves 0, which would match a slot whose bus number is unknown.
bool nvmlDeviceOnBus(const NvmlApi& nvml, uint32_t bus, int gpuCount, nvmlDevice_t* device) {
    for (int j = 0; j < gpuCount; ++j) {
        nvmlDevice_t candidate = nullptr;
        nvmlPciInfo_t pci;
        std::memset(&pci, 0, sizeof pci);
        if (!nvml.getHandleByIndex ||
            nvml.getHandleByIndex(static_cast<uint32_t>(j), &candidate) != NVML_SUCCESS || !nvml.getPciInfo ||
            nvml.getPciInfo(candidate, &pci) != NVML_SUCCESS)
            continue;
        if (pci.bus == bus) {
            *device = candidate;
            return true;
        }
    }
    return false;
}

bool powerAndDriverModel(SharedSample& s, const NvmlApi& nvml, nvmlDevice_t device) {
    uint32_t usage = 0, limit = 0, enforced = 0;
    bool drawn = nvml.getPowerUsage && nvml.getPowerUsage(device, &usage) == NVML_SUCCESS;
    bool limited =
        nvml.getPowerManagementLimit && nvml.getPowerManagementLimit(device, &limit) == NVML_SUCCESS;
    if (limited) {
        store(s.managementPowerLimitSupported, 1u);
        store(s.managementPowerLimit, limit);
    }
    if (drawn && limited) {
        store(s.powerDrawSupported, 1u);
        store(s.powerLimit, limit);
        store(s.powerDraw, usage);
    }
    bool enforcing =
        nvml.getEnforcedPowerLimit && nvml.getEnforcedPowerLimit(device, &enforced) == NVML_SUCCESS;
    if (enforcing) {
        store(s.enforcedPowerLimitSupported, 1u);
        store(s.enforcedPowerLimit, enforced);
    }
    nvmlDriverModel_t current = 0, pending = 0;
    bool modelRead = nvml.getDriverModel && nvml.getDriverModel(device, &current, &pending) == NVML_SUCCESS;
    if (modelRead) {
        store(s.driverModelSupported, 1u);
        store(s.driverModel, current);
    }
    return drawn || limited || enforcing || modelRead;
}

bool performanceState(SharedSample& s, const DriverTable& driver, NvPhysicalGpuHandle h) {
    NV_GPU_PERF_PSTATE_ID id = 0;
    if (!driver.getCurrentPstate || driver.getCurrentPstate(h, &id) != NVAPI_OK)
        return false;
    store(s.pStateSupported, 1u);
    store(s.pState, static_cast<int32_t>(id));
    return true;
}

bool engineLoads(SharedSample& s, const DriverTable& driver, NvPhysicalGpuHandle h) {
    bool read = false;
    struct Domain {
        uint32_t index;
        std::atomic<uint32_t>* flag;
        std::atomic<uint32_t>* value;
    } domains[] = {
        {NVAPI_GPU_UTILIZATION_DOMAIN_FB, &s.memoryControllerLoadSupported, &s.memoryControllerLoad},
        {NVAPI_GPU_UTILIZATION_DOMAIN_VID, &s.videoEngineLoadSupported, &s.videoEngineLoad},
        {NVAPI_GPU_UTILIZATION_DOMAIN_BUS, &s.busInterfaceLoadSupported, &s.busInterfaceLoad},
    };
    for (const Domain& d : domains) {
        NV_GPU_DYNAMIC_PSTATES_INFO_EX info;
        std::memset(&info, 0, sizeof info);
        info.version = NV_GPU_DYNAMIC_PSTATES_INFO_EX_VER;
        if (!driver.getDynamicPstatesInfoEx || driver.getDynamicPstatesInfoEx(h, &info) != NVAPI_OK)
            continue;
        store(*d.flag, 1u);
        store(*d.value, info.utilization[d.index].percentage);
        read = true;
    }
    return read;
}

bool fan(SharedSample& s, const DriverTable& driver, NvPhysicalGpuHandle h, uint32_t version) {
    CoolerStatusRecord record;
    std::memset(&record, 0, sizeof record);
    record.version = version;
    if (!driver.queryCoolerStatus || driver.queryCoolerStatus(h, 0, &record) != NVAPI_OK ||
        record.coolerCount == 0)
        return false;
    store(s.fanLevelSupported, 1u);
    store(s.fanLevel, record.currentLevel);
    if (record.rpmValid != 0) {
        store(s.fanRpmSupported, 1u);
        store(s.fanRpm, record.currentRpm);
    }
    return true;
}

bool voltages(SharedSample& s, const DriverTable& driver, NvPhysicalGpuHandle h, uint32_t version) {
    auto table = readPstates(driver, h, version);
    if (!table)
        return false;
    uint32_t base = table->pstates[0].baseVoltages[0].volt_uV;
    table.reset();
    if (base == 0)
        return true;
    store(s.coreVoltageRatedSupported, 1u);
    store(s.coreVoltageRated, base);
    VoltageStatusRecord record;
    std::memset(&record, 0, sizeof record);
    record.version = kVoltageStatusVersion;
    if (!driver.queryVoltageStatus || driver.queryVoltageStatus(h, &record) != NVAPI_OK ||
        record.value_uV == 0)
        return true;
    store(s.coreVoltageSupported, 1u);
    store(s.coreVoltage, record.value_uV);
    return true;
}

void connectorLabel(AgentState& state, const DriverTable& driver, NvPhysicalGpuHandle h, int slot,
                    int gpuCount) {
    if (!driver.getConnectedDisplayIds)
        return;
    uint32_t count = 0;
    if (driver.getConnectedDisplayIds(h, nullptr, &count, 0) != NVAPI_OK || count == 0 ||
        count > kMaxDisplayIds)
        return;
    std::unique_ptr<NV_GPU_DISPLAYIDS[]> displays(new (std::nothrow) NV_GPU_DISPLAYIDS[count]);
    if (!displays)
        return;
    std::memset(displays.get(), 0, sizeof(NV_GPU_DISPLAYIDS) * count);
    for (uint32_t k = 0; k < count; ++k)
        displays[k].version = NV_GPU_DISPLAYIDS_VER1;
    if (driver.getConnectedDisplayIds(h, displays.get(), &count, 0) != NVAPI_OK)
        return;
    char label[kTabLabelBytes];
    buildTabLabel(state.slots[slot].fullName, slot, gpuCount, displays[0].connectorType, label);
    storeTabLabel(state, slot, label);
}

} // namespace

void sampleSlot(AgentState& state, const NvapiGpus& gpus, const DriverTable& driver, int slot) {
    if (slot < 0 || slot >= kGpuSlotCount)
        return;
    AgentSlot& a = state.slots[slot];
    SharedSample& s = a.sample;
    NvPhysicalGpuHandle h = gpus.handles[slot];
    int gpuCount = state.gpuCount.load(kRelaxed);
    if (gpuCount > kGpuSlotCount)
        gpuCount = kGpuSlotCount;

    // Any reading, NvAPI's or NVML's, keeps the slot up.
    auto version = [&](RecordVersion r) { return recordVersion(gpus, slot, r); };
    bool read = currentClocks(s, driver, h, version(RecordVersion::Clock));
    read |= baseClocks(s, driver, h, version(RecordVersion::Clock), version(RecordVersion::Pstates));
    read |= boostClocks(s, driver, h, version(RecordVersion::Clock));
    read |= gpuLoad(s, driver, h);
    NvmlApi nvml;
    nvmlDevice_t device = nullptr;
    bool nvmlFound =
        driver.loadNvml && driver.loadNvml(&nvml) && nvmlDeviceOnBus(nvml, a.busId, gpuCount, &device);
    read |= memory(s, driver, h, version(RecordVersion::Memory), nvml, nvmlFound ? &device : nullptr);
    read |= temperature(s, driver, h, version(RecordVersion::Thermal));
    if (nvmlFound) {
        read |= powerAndDriverModel(s, nvml, device);
        // Who the GPU is, and the driver's version, do not change while it runs: read until known.
        if (!identityKnown(state, slot)) {
            GpuIdentity identity;
            readGpuIdentity(nvml, device, identity, PlainNvmlCall{});
            storeIdentity(state, slot, identity);
            readDriverVersion(state, nvml);
        }
        storeHealthReadings(state, slot, readGpuHealth(nvml, device, PlainNvmlCall{}));
        if (state.readProcesses.load(kRelaxed))
            storeProcesses(state, slot, readGpuProcesses(nvml, device, PlainNvmlCall{}));
    }
    read |= performanceState(s, driver, h);
    read |= engineLoads(s, driver, h);
    read |= fan(s, driver, h, version(RecordVersion::Cooler));
    read |= voltages(s, driver, h, version(RecordVersion::Pstates));
    connectorLabel(state, driver, h, slot, gpuCount);
    if (read)
        noteReading(a);
}

void samplePass(AgentState& state, const NvapiGpus& gpus, const DriverTable& driver) {
    for (int i = 0; i < state.gpuCount.load(kRelaxed) && i < kGpuSlotCount; ++i)
        sampleSlot(state, gpus, driver, i);
}

void stopSampler(AgentState& state) {
    state.agentRunning.store(0, kRelaxed);
}

int runSampler(AgentState& state, const NvapiGpus& gpus, const DriverTable& driver, int periodMs) {
    for (;;) {
        samplePass(state, gpus, driver);
        if (state.agentRunning.load(kRelaxed) == 0)
            return 0;
        if (driver.sleepMs)
            driver.sleepMs(periodMs);
    }
}
