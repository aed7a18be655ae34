// The Console's copy of the latest report: GPU count, Agent label, the typed
// Agent address and eight GPU slots. Numbers are relaxed atomics (one writer,
// many pollers); texts sit behind textLock and are read through the copy
// functions below.
#pragma once
#include "protocol/gpu_sample.h"

#include <atomic>
#include <cstdint>
#include <mutex>

constexpr int kAgentLabelChars = 29;

struct GpuPanelSlot {
#define GAUGELINE_PANEL_FIELD(name, kind, conv) std::atomic<GAUGELINE_CONSOLE_TYPE_##conv> name{0};
    GAUGELINE_SAMPLE_FIELDS(GAUGELINE_PANEL_FIELD)
#undef GAUGELINE_PANEL_FIELD
};

struct GpuPanelState {
    std::atomic<int32_t> gpuCount{0};
    std::atomic<int32_t> reconnectRequested{0};
    // Raised each time reconnectRequested is: a receiver held in a window call
    // (the window's thread pauses inside "接続") may miss the flag, never this.
    std::atomic<uint32_t> reconnectCount{0};
    GpuPanelSlot slots[kGpuSlotCount];

    mutable std::mutex textLock;
    char agentLabel[kAgentLabelChars + 1] = {};
    char agentAddress[kAddressTextMax + 1] = {};
    wchar_t fullName[kGpuSlotCount][kFullNameChars + 1] = {};
    char tabLabel[kGpuSlotCount][kTabLabelBytes] = {};
};

// Plain copy of one slot, for drawing and logging code that wants values
// that do not change under it.
struct PanelSlotSnapshot {
    wchar_t fullName[kFullNameChars + 1];
    char tabLabel[kTabLabelBytes];
#define GAUGELINE_SNAPSHOT_FIELD(name, kind, conv) GAUGELINE_CONSOLE_TYPE_##conv name;
    GAUGELINE_SAMPLE_FIELDS(GAUGELINE_SNAPSHOT_FIELD)
#undef GAUGELINE_SNAPSHOT_FIELD
};

template <typename T> inline T relaxed(const std::atomic<T>& value) {
    return value.load(std::memory_order_relaxed);
}
template <typename T, typename V> inline void store(std::atomic<T>& target, V value) {
    target.store(static_cast<T>(value), std::memory_order_relaxed);
}

// Field f of a slot or a snapshot, widened so that every value keeps its sign
// (Atoi fields) or its full unsigned range (Strtoul fields).
int64_t slotField(const GpuPanelSlot& slot, SampleField f);
int64_t snapshotField(const PanelSlotSnapshot& slot, SampleField f);
// Stores value as field f's own type.
void setSlotField(GpuPanelSlot& slot, SampleField f, int64_t value);

// The start-up state: every number 0, gpuCount 0, no address or label, every
// fullName "- empty -", tabLabel of slot 0 "- empty - (UNKNOWN 接続)" (cp932),
// the others empty.
void initGpuPanelState(GpuPanelState& state);

// Slot indexes outside 0..7 give an empty snapshot / text.
PanelSlotSnapshot snapshotPanelSlot(const GpuPanelState& state, int slot);
void copyFullName(const GpuPanelState& state, int slot, wchar_t out[kFullNameChars + 1]);
void copyTabLabel(const GpuPanelState& state, int slot, char out[kTabLabelBytes]);
void copyAgentLabel(const GpuPanelState& state, char out[kAgentLabelChars + 1]);
void copyAgentAddress(const GpuPanelState& state, char out[kAddressTextMax + 1]);
// Keeps at most 15 characters.
void setAgentAddress(GpuPanelState& state, const char* address);
void setTabLabel(GpuPanelState& state, int slot, const char* label);

// gpuCount clamped to the slots that exist: 0 when it is 0 or less, 8 above 8.
int usableGpuCount(const GpuPanelState& state);

// "- empty - (UNKNOWN 接続)" in code page 932.
extern const char kEmptyTabLabel[];

struct IntakeWindowCallbacks {
    void* context = nullptr;
    // Reads the main window's title; false when there is none.
    bool (*readTitle)(void* context, wchar_t* out, int outChars) = nullptr;
    void (*writeTitle)(void* context, const wchar_t* title) = nullptr;
    // Selects tab 0 (the panels then show slot 0), deletes every other tab and
    // gives tab 0 the label (code page 932 bytes).
    void (*resetTabs)(void* context, const char* tab0Label) = nullptr;
};

// The product name that a title is compared with and reset to.
extern const wchar_t kConsoleTitle[];
