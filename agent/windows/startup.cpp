#include "agent/windows/startup.h"

#include "agent/core/tab_label.h"
#include "agent/windows/sampler.h"
#include "protocol/text_cp932.h"

#include <cstring>
#include <memory>
#include <new>

namespace {

void show(const StartupCallbacks& callbacks, StartupMessage message) {
    if (callbacks.message)
        callbacks.message(callbacks.context, message);
}

bool fail(AgentState& state, const StartupCallbacks& callbacks, StartupMessage message) {
    show(callbacks, message);
    stopSampler(state);
    return false;
}

uint32_t probeClocks(const DriverTable& driver, NvPhysicalGpuHandle h) {
    const uint32_t tried[] = {NV_GPU_CLOCK_FREQUENCIES_VER_3, NV_GPU_CLOCK_FREQUENCIES_VER_2};
    for (int k = 0; k < 2; ++k) {
        if (k > 0 && driver.sleepMs)
            driver.sleepMs(1);
        NV_GPU_CLOCK_FREQUENCIES c;
        std::memset(&c, 0, sizeof c);
        c.version = tried[k];
        c.clockType = NV_GPU_CLOCK_FREQUENCIES_CURRENT_FREQ;
        if (driver.getAllClockFrequencies && driver.getAllClockFrequencies(h, &c) == NVAPI_OK)
            return tried[k];
    }
    return NV_GPU_CLOCK_FREQUENCIES_VER_1;
}

uint32_t probePstates(const DriverTable& driver, NvPhysicalGpuHandle h) {
    std::unique_ptr<NV_GPU_PERF_PSTATES20_INFO> table(new (std::nothrow) NV_GPU_PERF_PSTATES20_INFO);
    if (table && driver.getPstates20) {
        for (uint32_t version : {NV_GPU_PERF_PSTATES20_INFO_VER3, NV_GPU_PERF_PSTATES20_INFO_VER2}) {
            std::memset(table.get(), 0, sizeof *table);
            table->version = version;
            table->numPstates = 1;
            table->numClocks = 1;
            table->pstates[0].pstateId = 0;
            table->pstates[0].clocks[0].domainId = NVAPI_GPU_PUBLIC_CLOCK_GRAPHICS;
            if (driver.getPstates20(h, table.get()) == NVAPI_OK)
                return version;
        }
    }
    return NV_GPU_PERF_PSTATES20_INFO_VER1;
}

uint32_t probeThermal(const DriverTable& driver, NvPhysicalGpuHandle h) {
    NV_GPU_THERMAL_SETTINGS t;
    std::memset(&t, 0, sizeof t);
    t.version = NV_GPU_THERMAL_SETTINGS_VER_2;
    if (driver.getThermalSettings && driver.getThermalSettings(h, 0, &t) == NVAPI_OK)
        return NV_GPU_THERMAL_SETTINGS_VER_2;
    return NV_GPU_THERMAL_SETTINGS_VER_1;
}

uint32_t probeMemory(const DriverTable& driver, NvPhysicalGpuHandle h) {
    NV_DISPLAY_DRIVER_MEMORY_INFO m;
    std::memset(&m, 0, sizeof m);
    m.version = NV_DISPLAY_DRIVER_MEMORY_INFO_VER_2;
    if (driver.getMemoryInfo && driver.getMemoryInfo(h, &m) == NVAPI_OK)
        return NV_DISPLAY_DRIVER_MEMORY_INFO_VER_2;
    return NV_DISPLAY_DRIVER_MEMORY_INFO_VER_1;
}

uint32_t probeCooler(const DriverTable& driver, NvPhysicalGpuHandle h) {
    const int tried = 4; // the last version is taken untried
    for (int k = 0; k < tried && driver.queryCoolerStatus; ++k) {
        CoolerStatusRecord record;
        std::memset(&record, 0, sizeof record);
        record.version = kCoolerStatusVersions[k];
        if (driver.queryCoolerStatus(h, 0, &record) == NVAPI_OK)
            return kCoolerStatusVersions[k];
    }
    return kCoolerStatusVersions[4];
}

} // namespace

const wchar_t* startupMessageText(StartupMessage message) {
    switch (message) {
    case StartupMessage::WindowFailed:
        return L"ウィンドウを作成できません";
    case StartupMessage::FontFailed:
        return L"フォント作成エラー";
    case StartupMessage::OldWindows:
        return L"7以降のOSが必要です";
    case StartupMessage::NvapiFailed:
        return L"NvAPIの初期化に失敗しました";
    case StartupMessage::NvmlLoadFailed:
        return L"nvml.dllのロードに失敗しました";
    case StartupMessage::NvmlInitFailed:
        return L"NvMLの初期化に失敗しました";
    case StartupMessage::TooManyGpus:
        return L"ビデオカードが9枚以上存在します\n認識できるビデオカードは8枚までです\n8枚までを認識します";
    case StartupMessage::NameFailed:
        return L"GPU名を取得できません";
    }
    return L"";
}

bool windowsVersionSupported(uint32_t major, uint32_t minor) {
    return major > 6 || (major == 6 && minor >= 1);
}

bool recogniseGpus(AgentState& state, NvapiGpus& gpus, const DriverTable& driver) {
    if (!driver.initialize || !driver.enumPhysicalGpus || !driver.enumTccPhysicalGpus)
        return false;
    if (driver.initialize() != NVAPI_OK)
        return false;
    uint32_t physical = 0;
    if (driver.enumPhysicalGpus(gpus.handles, &physical) != NVAPI_OK)
        return false;
    if (physical > NVAPI_MAX_PHYSICAL_GPUS)
        physical = NVAPI_MAX_PHYSICAL_GPUS;
    // The TCC list may hold up to 64 handles itself: it goes into a list of its
    // own and only what fits after the physical GPUs is kept.
    NvPhysicalGpuHandle tcc[NVAPI_MAX_PHYSICAL_GPUS] = {};
    uint32_t tccCount = 0;
    if (driver.enumTccPhysicalGpus(tcc, &tccCount) != NVAPI_OK)
        return false;
    if (tccCount > NVAPI_MAX_PHYSICAL_GPUS)
        tccCount = NVAPI_MAX_PHYSICAL_GPUS;
    for (uint32_t k = 0; k < tccCount && physical + k < NVAPI_MAX_PHYSICAL_GPUS; ++k)
        gpus.handles[physical + k] = tcc[k];
    uint32_t total = physical + tccCount;
    if (total == 0)
        return false;
    if (total > NVAPI_MAX_PHYSICAL_GPUS)
        total = NVAPI_MAX_PHYSICAL_GPUS;
    state.gpuCount.store(static_cast<int32_t>(total), std::memory_order_relaxed);
    return true;
}

NvmlStart startNvml(const DriverTable& driver) {
    NvmlApi api;
    if (!driver.loadNvml || !driver.loadNvml(&api))
        return NvmlStart::LoadFailed;
    if (!api.init || api.init() != NVML_SUCCESS)
        return NvmlStart::InitFailed;
    return NvmlStart::Ok;
}

bool readNamesAndBuses(AgentState& state, const NvapiGpus& gpus, const DriverTable& driver,
                       const StartupCallbacks& callbacks) {
    for (int i = 0; i < state.gpuCount.load(std::memory_order_relaxed); ++i) {
        if (i >= kGpuSlotCount) {
            state.gpuCount.store(kGpuSlotCount, std::memory_order_relaxed);
            show(callbacks, StartupMessage::TooManyGpus);
            break;
        }
        NvPhysicalGpuHandle h = gpus.handles[i];
        char name[NVAPI_SHORT_STRING_MAX + 1] = {};
        if (!driver.getFullName || driver.getFullName(h, name) != NVAPI_OK)
            return false;
        name[NVAPI_SHORT_STRING_MAX] = '\0';
        AgentSlot& slot = state.slots[i];
        cp932ToWide(name, NVAPI_SHORT_STRING_MAX, slot.fullName, kFullNameChars + 1);
        uint32_t bus = 0;
        if (driver.getBusId && driver.getBusId(h, &bus) == NVAPI_OK)
            slot.busId = bus;
    }
    return true;
}

void probeRecordVersions(const AgentState& state, NvapiGpus& gpus, const DriverTable& driver) {
    int count = state.gpuCount.load(std::memory_order_relaxed);
    for (int i = 0; i < count && i < kGpuSlotCount; ++i) {
        NvPhysicalGpuHandle h = gpus.handles[i];
        uint32_t* v = gpus.recordVersions[i];
        v[static_cast<int>(RecordVersion::Clock)] = probeClocks(driver, h);
        v[static_cast<int>(RecordVersion::Pstates)] = probePstates(driver, h);
        v[static_cast<int>(RecordVersion::Thermal)] = probeThermal(driver, h);
        v[static_cast<int>(RecordVersion::Memory)] = probeMemory(driver, h);
        v[static_cast<int>(RecordVersion::Cooler)] = probeCooler(driver, h);
    }
}

void buildStartupLabels(AgentState& state) {
    int count = state.gpuCount.load(std::memory_order_relaxed);
    for (int i = 0; i < count && i < kGpuSlotCount; ++i) {
        char label[kTabLabelBytes];
        buildTabLabel(state.slots[i].fullName, i, count, kNoConnector, label);
        storeTabLabel(state, i, label);
    }
}

bool startSampler(AgentState& state, NvapiGpus& gpus, const DriverTable& driver,
                  const StartupCallbacks& callbacks) {
    resetAgentSlots(state);
    gpus = NvapiGpus{};
    if (!recogniseGpus(state, gpus, driver))
        return fail(state, callbacks, StartupMessage::NvapiFailed);
    switch (startNvml(driver)) {
    case NvmlStart::LoadFailed:
        return fail(state, callbacks, StartupMessage::NvmlLoadFailed);
    case NvmlStart::InitFailed:
        return fail(state, callbacks, StartupMessage::NvmlInitFailed);
    case NvmlStart::Ok:
        break;
    }
    if (!readNamesAndBuses(state, gpus, driver, callbacks))
        return fail(state, callbacks, StartupMessage::NameFailed);
    probeRecordVersions(state, gpus, driver);
    buildStartupLabels(state);
    return true;
}
