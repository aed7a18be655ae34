#include "agent/core/agent_state.h"

#include <chrono>
#include <cstring>
#include <cwchar>

void resetAgentSlots(AgentState& state) {
    std::lock_guard<std::mutex> lock(state.labelLock);
    for (AgentSlot& slot : state.slots) {
        std::wcsncpy(slot.fullName, kEmptyGpuNameWide, kFullNameChars);
        slot.fullName[kFullNameChars] = L'\0';
        slot.busId = 0;
#define GAUGELINE_ZERO_FIELD(name, kind, conv) slot.sample.name.store(0, std::memory_order_relaxed);
        GAUGELINE_SAMPLE_FIELDS(GAUGELINE_ZERO_FIELD)
#undef GAUGELINE_ZERO_FIELD
#define GAUGELINE_ZERO_AGENT_FIELD(name) slot.sample.name.store(0, std::memory_order_relaxed);
        GAUGELINE_AGENT_ONLY_FIELDS(GAUGELINE_ZERO_AGENT_FIELD)
#undef GAUGELINE_ZERO_AGENT_FIELD
        std::memset(slot.sample.tabLabel, 0, sizeof slot.sample.tabLabel);
        slot.lastReadingMs.store(kNoReadingYet, std::memory_order_relaxed);
    }
    state.gpuCount.store(0, std::memory_order_relaxed);
    state.reportConnected.store(0, std::memory_order_relaxed);
    std::lock_guard<std::mutex> healthLock(state.healthLock);
    for (AgentSlot& slot : state.slots)
        slot.health = GpuHealth{};
    state.driverVersion[0] = '\0';
}

namespace {

// Changes one slot's health under the lock; a slot out of range is ignored.
template <typename Fn> void changeHealth(AgentState& state, int slot, Fn change) {
    if (slot < 0 || slot >= kGpuSlotCount)
        return;
    std::lock_guard<std::mutex> lock(state.healthLock);
    change(state.slots[slot].health);
}

} // namespace

void storeIdentity(AgentState& state, int slot, const GpuIdentity& identity) {
    changeHealth(state, slot, [&](GpuHealth& h) { h.identity = identity; });
}

bool identityKnown(const AgentState& state, int slot) {
    if (slot < 0 || slot >= kGpuSlotCount)
        return false;
    std::lock_guard<std::mutex> lock(state.healthLock);
    const GpuIdentity& identity = state.slots[slot].health.identity;
    return identity.uuid[0] != '\0' || identity.pciBusId[0] != '\0';
}

void storeHealthReadings(AgentState& state, int slot, const GpuHealthReadings& readings) {
    changeHealth(state, slot, [&](GpuHealth& h) { h.readings = readings; });
}

void storeProcesses(AgentState& state, int slot, const GpuProcesses& processes) {
    changeHealth(state, slot, [&](GpuHealth& h) { h.processes = processes; });
}

void watchXids(AgentState& state, int slot) {
    changeHealth(state, slot, [](GpuHealth& h) { h.xids.watched = true; });
}

void storeXid(AgentState& state, int slot, uint64_t xid) {
    changeHealth(state, slot, [&](GpuHealth& h) { countXid(h.xids, xid); });
}

void readDriverVersion(AgentState& state, const NvmlApi& api) {
    char version[NVML_SYSTEM_DRIVER_VERSION_BUFFER_SIZE] = {};
    if (PlainNvmlCall{}(api.getDriverVersion, version, static_cast<uint32_t>(sizeof version)) != NVML_SUCCESS)
        return;
    version[sizeof version - 1] = '\0';
    std::lock_guard<std::mutex> lock(state.healthLock);
    std::memcpy(state.driverVersion, version, sizeof version);
}

void snapshotHealth(const AgentState& state, GpuHealth out[kGpuSlotCount], char* driverVersion, int size) {
    std::lock_guard<std::mutex> lock(state.healthLock);
    for (int i = 0; i < kGpuSlotCount; ++i)
        out[i] = state.slots[i].health;
    if (size > 0) {
        std::strncpy(driverVersion, state.driverVersion, static_cast<size_t>(size) - 1);
        driverVersion[size - 1] = '\0';
    }
}

void storeTabLabel(AgentState& state, int slot, const char* label) {
    if (slot < 0 || slot >= kGpuSlotCount)
        return;
    std::lock_guard<std::mutex> lock(state.labelLock);
    char* field = state.slots[slot].sample.tabLabel;
    std::memset(field, 0, kTabLabelBytes);
    std::strncpy(field, label, kTabLabelBytes - 1);
}

void snapshotSamples(const AgentState& state, GpuSample out[kGpuSlotCount]) {
    for (int i = 0; i < kGpuSlotCount; ++i) {
        const AgentSlot& slot = state.slots[i];
        GpuSample& s = out[i];
        std::memcpy(s.fullName, slot.fullName, sizeof s.fullName);
        s.fullName[kFullNameChars] = L'\0';
#define GAUGELINE_COPY_FIELD(name, kind, conv) s.name = slot.sample.name.load(std::memory_order_relaxed);
        GAUGELINE_SAMPLE_FIELDS(GAUGELINE_COPY_FIELD)
#undef GAUGELINE_COPY_FIELD
#define GAUGELINE_COPY_AGENT_FIELD(name) s.name = slot.sample.name.load(std::memory_order_relaxed);
        GAUGELINE_AGENT_ONLY_FIELDS(GAUGELINE_COPY_AGENT_FIELD)
#undef GAUGELINE_COPY_AGENT_FIELD
    }
    std::lock_guard<std::mutex> lock(state.labelLock);
    for (int i = 0; i < kGpuSlotCount; ++i) {
        std::memcpy(out[i].tabLabel, state.slots[i].sample.tabLabel, kTabLabelBytes);
        out[i].tabLabel[kTabLabelBytes - 1] = '\0';
    }
}

int64_t steadyMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void slotsUp(const AgentState& state, int64_t nowMs, bool up[kGpuSlotCount]) {
    for (int i = 0; i < kGpuSlotCount; ++i) {
        int64_t last = state.slots[i].lastReadingMs.load(std::memory_order_relaxed);
        up[i] = last != kNoReadingYet && nowMs - last <= kGpuUpWindowMs;
    }
}
