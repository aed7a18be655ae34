// The Console's 208-second history of six metrics per GPU slot, and the grid
// phase that scrolls the graph grid with it. Written by the tick thread, read
// by painting: every entry is a relaxed 32-bit atomic.
#pragma once
#include "console/intake/link/panel_state.h"
#include "protocol/gpu_sample.h"

#include <atomic>
#include <cstdint>

constexpr int kHistoryEntries = 208;
constexpr int32_t kEmptyEntry = -1000;

enum class HistorySeries { GraphicsClock, MemoryClock, GpuLoad, MemoryUsage, Temperature, PowerDraw };
constexpr int kHistorySeriesCount = 6;

struct SlotHistory {
    // Entry 0 is the newest, entry 207 the oldest.
    std::atomic<int32_t> series[kHistorySeriesCount][kHistoryEntries];
};

struct HistoryStore {
    SlotHistory slots[kGpuSlotCount];
    // 0, 2, 4, 6, 8 or 10.
    std::atomic<int32_t> gridPhase{0};
};

// Every entry of every slot -1000, gridPhase 0.
void initHistoryStore(HistoryStore& history);

// Shifts each series of the slot whose support flag(s) say so and stores the
// current reading in entry 0; the two clock series move together when both
// clock flags are set. Slots outside 0..7 are left alone.
void advanceHistories(HistoryStore& history, const GpuPanelState& panel, int slot);

// gridPhase + 2, back to 0 at 12.
void advanceGridPhase(HistoryStore& history);

// Entry j of a series; kEmptyEntry for a slot, series or entry out of range.
int32_t historyEntry(const HistoryStore& history, int slot, HistorySeries series, int entry);
