#include "console/intake/link/panel_state.h"

#include <cstring>
#include <cwchar>

const char kEmptyTabLabel[] = "- empty - (UNKNOWN \x90\xDA\x91\xB1)";
const wchar_t kConsoleTitle[] = L"Kovra Gaugeline Console";

namespace {
bool validSlot(int slot) {
    return slot >= 0 && slot < kGpuSlotCount;
}

template <size_t N> void copyBounded(char (&dst)[N], const char* src) {
    size_t n = strnlen(src, N - 1);
    std::memcpy(dst, src, n);
    std::memset(dst + n, 0, N - n);
}
using SlotGet = int64_t (*)(const GpuPanelSlot&);
using SnapshotGet = int64_t (*)(const PanelSlotSnapshot&);
using SlotSet = void (*)(GpuPanelSlot&, int64_t);

const SlotGet kSlotGets[] = {
#define GAUGELINE_SLOT_GET(name, kind, conv) [](const GpuPanelSlot& s) { return int64_t{relaxed(s.name)}; },
    GAUGELINE_SAMPLE_FIELDS(GAUGELINE_SLOT_GET)
#undef GAUGELINE_SLOT_GET
};
const SnapshotGet kSnapshotGets[] = {
#define GAUGELINE_SNAPSHOT_GET(name, kind, conv) [](const PanelSlotSnapshot& s) { return int64_t{s.name}; },
    GAUGELINE_SAMPLE_FIELDS(GAUGELINE_SNAPSHOT_GET)
#undef GAUGELINE_SNAPSHOT_GET
};
const SlotSet kSlotSets[] = {
#define GAUGELINE_SLOT_SET(name, kind, conv) [](GpuPanelSlot& s, int64_t v) { store(s.name, v); },
    GAUGELINE_SAMPLE_FIELDS(GAUGELINE_SLOT_SET)
#undef GAUGELINE_SLOT_SET
};
} // namespace

int64_t slotField(const GpuPanelSlot& slot, SampleField f) {
    return kSlotGets[static_cast<int>(f)](slot);
}

int64_t snapshotField(const PanelSlotSnapshot& slot, SampleField f) {
    return kSnapshotGets[static_cast<int>(f)](slot);
}

void setSlotField(GpuPanelSlot& slot, SampleField f, int64_t value) {
    kSlotSets[static_cast<int>(f)](slot, value);
}

void initGpuPanelState(GpuPanelState& state) {
    store(state.gpuCount, 0);
    store(state.reconnectRequested, 0);
    for (GpuPanelSlot& slot : state.slots)
        for (int k = 0; k < kSampleFieldCount; ++k)
            setSlotField(slot, static_cast<SampleField>(k), 0);
    std::lock_guard<std::mutex> lock(state.textLock);
    std::memset(state.agentLabel, 0, sizeof state.agentLabel);
    std::memset(state.agentAddress, 0, sizeof state.agentAddress);
    std::memset(state.tabLabel, 0, sizeof state.tabLabel);
    for (auto& name : state.fullName)
        std::wcscpy(name, kEmptyGpuNameWide);
    copyBounded(state.tabLabel[0], kEmptyTabLabel);
}

PanelSlotSnapshot snapshotPanelSlot(const GpuPanelState& state, int slot) {
    PanelSlotSnapshot snap;
    std::memset(&snap, 0, sizeof snap);
    if (!validSlot(slot))
        return snap;
    const GpuPanelSlot& s = state.slots[slot];
#define GAUGELINE_SNAPSHOT_COPY(name, kind, conv) snap.name = relaxed(s.name);
    GAUGELINE_SAMPLE_FIELDS(GAUGELINE_SNAPSHOT_COPY)
#undef GAUGELINE_SNAPSHOT_COPY
    copyFullName(state, slot, snap.fullName);
    copyTabLabel(state, slot, snap.tabLabel);
    return snap;
}

void copyFullName(const GpuPanelState& state, int slot, wchar_t out[kFullNameChars + 1]) {
    out[0] = L'\0';
    if (!validSlot(slot))
        return;
    std::lock_guard<std::mutex> lock(state.textLock);
    std::memcpy(out, state.fullName[slot], sizeof state.fullName[slot]);
    out[kFullNameChars] = L'\0';
}

void copyTabLabel(const GpuPanelState& state, int slot, char out[kTabLabelBytes]) {
    std::memset(out, 0, kTabLabelBytes);
    if (!validSlot(slot))
        return;
    std::lock_guard<std::mutex> lock(state.textLock);
    std::memcpy(out, state.tabLabel[slot], kTabLabelBytes);
    out[kTabLabelBytes - 1] = '\0';
}

void copyAgentLabel(const GpuPanelState& state, char out[kAgentLabelChars + 1]) {
    std::lock_guard<std::mutex> lock(state.textLock);
    std::memcpy(out, state.agentLabel, kAgentLabelChars + 1);
    out[kAgentLabelChars] = '\0';
}

void copyAgentAddress(const GpuPanelState& state, char out[kAddressTextMax + 1]) {
    std::lock_guard<std::mutex> lock(state.textLock);
    std::memcpy(out, state.agentAddress, kAddressTextMax + 1);
    out[kAddressTextMax] = '\0';
}

void setAgentAddress(GpuPanelState& state, const char* address) {
    std::lock_guard<std::mutex> lock(state.textLock);
    copyBounded(state.agentAddress, address ? address : "");
}

void setTabLabel(GpuPanelState& state, int slot, const char* label) {
    if (!validSlot(slot))
        return;
    std::lock_guard<std::mutex> lock(state.textLock);
    copyBounded(state.tabLabel[slot], label ? label : "");
}

int usableGpuCount(const GpuPanelState& state) {
    int32_t count = relaxed(state.gpuCount);
    if (count <= 0)
        return 0;
    return count > kGpuSlotCount ? kGpuSlotCount : count;
}
