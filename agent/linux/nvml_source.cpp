#include "agent/linux/nvml_source.h"

#include "agent/core/tab_label.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

namespace {

constexpr std::memory_order kRelaxed = std::memory_order_relaxed;

template <typename T> void store(std::atomic<T>& field, T value) {
    field.store(value, kRelaxed);
}

// One driver call of a slot. inCall is raised before stop is looked at, and
// stopSampler sets stop before it looks at inCall: one of the two sees the
// other, so no call starts after stopSampler has found every slot idle.
template <typename Fn, typename... Args>
nvmlReturn_t callSlot(NvmlSource& source, int slot, Fn fn, Args... args) {
    if (!fn)
        return NVML_ERROR_FUNCTION_NOT_FOUND;
    if (source.lost[slot].load())
        return NVML_ERROR_GPU_IS_LOST;
    source.inCall[slot].store(true);
    if (source.stop.load()) {
        source.inCall[slot].store(false);
        return NVML_ERROR_UNINITIALIZED;
    }
    nvmlReturn_t r = fn(args...);
    source.inCall[slot].store(false);
    if (r == NVML_SUCCESS)
        source.answers[slot].fetch_add(1, kRelaxed);
    if (r == NVML_ERROR_GPU_IS_LOST && !source.lost[slot].exchange(true) && source.callbacks.lost)
        source.callbacks.lost(source.callbacks.context, slot);
    return r;
}

void raise(std::atomic<uint32_t>& scale, uint32_t value) {
    if (value > scale.load(kRelaxed))
        store(scale, value);
}

void readClocks(NvmlSource& source, int slot, nvmlDevice_t d, SharedSample& s) {
    const NvmlApi& api = *source.api;
    struct Clock {
        nvmlClockType_t type;
        std::atomic<uint32_t> SharedSample::*current;
        std::atomic<uint32_t> SharedSample::*supported;
        std::atomic<uint32_t> SharedSample::*rated; // null: NVML has no rated clock here
        std::atomic<uint32_t> SharedSample::*scale; // null: this clock has no scale
        std::atomic<uint32_t> SharedSample::*max;
    };
    const Clock clocks[] = {
        {NVML_CLOCK_GRAPHICS, &SharedSample::graphicsClock, &SharedSample::graphicsClockSupported,
         &SharedSample::graphicsClockRated, &SharedSample::graphicsClockScale,
         &SharedSample::graphicsClockMax},
        {NVML_CLOCK_MEM, &SharedSample::memoryClock, &SharedSample::memoryClockSupported,
         &SharedSample::memoryClockRated, &SharedSample::memoryClockScale, &SharedSample::memoryClockMax},
        {NVML_CLOCK_SM, &SharedSample::processorClock, &SharedSample::processorClockSupported, nullptr,
         nullptr, &SharedSample::processorClockMax},
        {NVML_CLOCK_VIDEO, &SharedSample::videoClock, &SharedSample::videoClockSupported, nullptr, nullptr,
         &SharedSample::videoClockMax},
    };
    for (const Clock& c : clocks) {
        uint32_t mhz = 0;
        if (callSlot(source, slot, api.getClockInfo, d, c.type, &mhz) == NVML_SUCCESS) {
            store(s.*c.current, mhz * 1000);
            store(s.*c.supported, 1u);
        }
        // The default applications clocks are a graphics and memory pair, and
        // only data-centre boards give them; elsewhere the rated clock stays 0.
        if (c.rated &&
            callSlot(source, slot, api.getDefaultApplicationsClock, d, c.type, &mhz) == NVML_SUCCESS)
            store(s.*c.rated, mhz * 1000);
        bool maxRead = callSlot(source, slot, api.getMaxClockInfo, d, c.type, &mhz) == NVML_SUCCESS;
        if (maxRead)
            store(s.*c.max, mhz * 1000);
        if (!c.scale)
            continue;
        raise(s.*c.scale, (s.*c.current).load(kRelaxed));
        if (maxRead)
            raise(s.*c.scale, mhz * 1000);
    }
}

void readLoads(NvmlSource& source, int slot, nvmlDevice_t d, SharedSample& s, const GpuHealthReadings& h) {
    const NvmlApi& api = *source.api;
    nvmlUtilization_t rates = {};
    if (callSlot(source, slot, api.getUtilizationRates, d, &rates) == NVML_SUCCESS) {
        store(s.gpuLoad, static_cast<int32_t>(rates.gpu));
        store(s.gpuLoadSupported, 1u);
        store(s.memoryControllerLoad, rates.memory);
        store(s.memoryControllerLoadSupported, 1u);
    }
    // The video engine is the busier of encoder and decoder.
    if (h.encoderRead || h.decoderRead) {
        store(s.videoEngineLoad, h.encoderRead && (!h.decoderRead || h.encoderLoad > h.decoderLoad)
                                     ? h.encoderLoad
                                     : h.decoderLoad);
        store(s.videoEngineLoadSupported, 1u);
    }
}

void readMemory(NvmlSource& source, int slot, nvmlDevice_t d, SharedSample& s) {
    const NvmlApi& api = *source.api;
    uint64_t total = 0, used = 0;
    nvmlMemory_v2_t v2 = {};
    v2.version = nvmlMemory_v2;
    nvmlMemory_t v1 = {};
    if (callSlot(source, slot, api.getMemoryInfoV2, d, &v2) == NVML_SUCCESS) {
        total = v2.total;
        used = v2.used;
    } else if (callSlot(source, slot, api.getMemoryInfo, d, &v1) == NVML_SUCCESS) {
        total = v1.total;
        used = v1.used;
    } else {
        return;
    }
    store(s.memoryTotal, static_cast<uint32_t>(total / 1024));
    store(s.memoryUsage, static_cast<uint32_t>(used / 1024));
    store(s.memoryUsageSupported, 1u);
}

void readRest(NvmlSource& source, int slot, nvmlDevice_t d, SharedSample& s) {
    const NvmlApi& api = *source.api;
    uint32_t value = 0;
    if (callSlot(source, slot, api.getTemperature, d, NVML_TEMPERATURE_GPU, &value) == NVML_SUCCESS) {
        store(s.temperature, static_cast<int32_t>(value));
        store(s.temperatureSupported, 1u);
    }
    uint32_t draw = 0, limit = 0, management = 0;
    bool drawn = callSlot(source, slot, api.getPowerUsage, d, &draw) == NVML_SUCCESS;
    bool limited = callSlot(source, slot, api.getEnforcedPowerLimit, d, &limit) == NVML_SUCCESS;
    if (limited) {
        store(s.enforcedPowerLimit, limit);
        store(s.enforcedPowerLimitSupported, 1u);
    }
    // The Console draws power against its limit: both or neither.
    if (drawn && limited) {
        store(s.powerDraw, draw);
        store(s.powerLimit, limit);
        store(s.powerDrawSupported, 1u);
    }
    if (callSlot(source, slot, api.getPowerManagementLimit, d, &management) == NVML_SUCCESS) {
        store(s.managementPowerLimit, management);
        store(s.managementPowerLimitSupported, 1u);
    }
    if (callSlot(source, slot, api.getFanSpeed, d, &value) == NVML_SUCCESS) {
        store(s.fanLevel, value);
        store(s.fanLevelSupported, 1u);
    }
    nvmlFanSpeedInfo_t fan = {};
    fan.version = nvmlFanSpeedInfo_v1;
    fan.fan = 0;
    if (callSlot(source, slot, api.getFanSpeedRpm, d, &fan) == NVML_SUCCESS) {
        store(s.fanRpm, fan.speed);
        store(s.fanRpmSupported, 1u);
    }
    nvmlPstates_t state = NVML_PSTATE_UNKNOWN;
    if (callSlot(source, slot, api.getPerformanceState, d, &state) == NVML_SUCCESS && state >= 0 &&
        state <= 15) {
        store(s.pState, static_cast<int32_t>(state));
        store(s.pStateSupported, 1u);
    }
}

} // namespace

const char* nvmlErrorText(const NvmlApi& api, nvmlReturn_t error, char* buffer, int size) {
    const char* words = api.errorString ? api.errorString(error) : nullptr;
    if (words && words[0] != '\0')
        return words;
    std::snprintf(buffer, static_cast<size_t>(size), "error %d", static_cast<int>(error));
    return buffer;
}

NvmlStartResult startSampler(AgentState& state, NvmlSource& source) {
    resetAgentSlots(state);
    NvmlStartResult result;
    const NvmlApi& api = *source.api;
    result.error = api.init ? api.init() : NVML_ERROR_FUNCTION_NOT_FOUND;
    if (result.error != NVML_SUCCESS) {
        result.outcome = NvmlStartOutcome::InitFailed;
        return result;
    }
    result.error = api.getCount ? api.getCount(&result.deviceCount) : NVML_ERROR_FUNCTION_NOT_FOUND;
    if (result.error != NVML_SUCCESS) {
        result.outcome = NvmlStartOutcome::CountFailed;
        return result;
    }
    if (result.deviceCount == 0) {
        result.outcome = NvmlStartOutcome::NoGpu;
        return result;
    }
    int count = result.deviceCount < kGpuSlotCount ? static_cast<int>(result.deviceCount) : kGpuSlotCount;
    for (int i = 0; i < count; ++i) {
        nvmlDevice_t device = nullptr;
        nvmlReturn_t r = api.getHandleByIndex ? api.getHandleByIndex(static_cast<uint32_t>(i), &device)
                                              : NVML_ERROR_FUNCTION_NOT_FOUND;
        if (r != NVML_SUCCESS) {
            result.slotError[i] = r;
            source.lost[i].store(r == NVML_ERROR_GPU_IS_LOST);
            continue;
        }
        source.devices[i] = device;
        char name[NVML_DEVICE_NAME_V2_BUFFER_SIZE] = {};
        r = api.getName ? api.getName(device, name, sizeof name) : NVML_ERROR_FUNCTION_NOT_FOUND;
        if (r != NVML_SUCCESS) {
            result.slotError[i] = r;
            // Said at start already: the sampler is not to say it again.
            source.lost[i].store(r == NVML_ERROR_GPU_IS_LOST);
            continue;
        }
        name[sizeof name - 1] = '\0';
        GpuIdentity identity;
        readGpuIdentity(api, device, identity, PlainNvmlCall{});
        storeIdentity(state, i, identity);
        wchar_t* out = state.slots[i].fullName;
        int n = 0;
        for (; n < kFullNameChars && name[n] != '\0'; ++n)
            out[n] = static_cast<unsigned char>(name[n]) < 0x80 ? static_cast<wchar_t>(name[n]) : L'?';
        out[n] = L'\0';
    }
    readDriverVersion(state, api);
    state.gpuCount.store(count, kRelaxed);
    for (int i = 0; i < count; ++i) {
        char label[kTabLabelBytes];
        // NVML on Linux tells no display connector.
        buildTabLabel(state.slots[i].fullName, i, count, -1, label);
        storeTabLabel(state, i, label);
    }
    return result;
}

void sampleSlot(AgentState& state, NvmlSource& source, int slot) {
    if (slot < 0 || slot >= kGpuSlotCount || !source.devices[slot])
        return;
    nvmlDevice_t d = source.devices[slot];
    SharedSample& s = state.slots[slot].sample;
    uint32_t answered = source.answers[slot].load(kRelaxed);
    GpuHealthReadings health = readGpuHealth(
        *source.api, d, [&](auto fn, auto... args) { return callSlot(source, slot, fn, args...); });
    readClocks(source, slot, d, s);
    readLoads(source, slot, d, s, health);
    readMemory(source, slot, d, s);
    readRest(source, slot, d, s);
    if (source.answers[slot].load(kRelaxed) != answered)
        noteReading(state.slots[slot]);
    storeHealthReadings(state, slot, health);
    if (state.readProcesses.load(kRelaxed))
        storeProcesses(state, slot, readGpuProcesses(*source.api, d, [&](auto fn, auto... args) {
                           return callSlot(source, slot, fn, args...);
                       }));
}

void runSampler(AgentState& state, NvmlSource& source, int slot, int periodMs) {
    while (!source.stop.load()) {
        auto next = std::chrono::steady_clock::now() + std::chrono::milliseconds(periodMs);
        sampleSlot(state, source, slot);
        std::unique_lock<std::mutex> lock(source.wakeLock);
        source.wake.wait_until(lock, next, [&] { return source.stop.load(); });
    }
}

bool stopSampler(NvmlSource& source, int waitMs) {
    {
        // Under the lock, so that no sampler misses the wake between its
        // look at stop and its wait.
        std::lock_guard<std::mutex> lock(source.wakeLock);
        source.stop.store(true);
    }
    source.wake.notify_all();
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    for (;;) {
        bool busy = false;
        for (const std::atomic<bool>& c : source.inCall)
            busy = busy || c.load();
        if (!busy)
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}
