#include "console/display/history_store.h"

#include "console/intake/link/readings.h"

namespace {

void shiftIn(std::atomic<int32_t>* series, int32_t value) {
    for (int j = kHistoryEntries - 1; j > 0; --j)
        series[j].store(series[j - 1].load(std::memory_order_relaxed), std::memory_order_relaxed);
    series[0].store(value, std::memory_order_relaxed);
}

} // namespace

void initHistoryStore(HistoryStore& history) {
    for (auto& slot : history.slots)
        for (auto& series : slot.series)
            for (auto& entry : series)
                entry.store(kEmptyEntry, std::memory_order_relaxed);
    history.gridPhase.store(0, std::memory_order_relaxed);
}

void advanceHistories(HistoryStore& history, const GpuPanelState& panel, int slot) {
    if (slot < 0 || slot >= kGpuSlotCount)
        return;
    const GpuPanelSlot& in = panel.slots[slot];
    for (const ReadingInfo& reading : kReadings) {
        if (reading.graph < 0 || slotField(in, reading.supported) == 0)
            continue;
        if (reading.alsoNeeded != kNoField && slotField(in, reading.alsoNeeded) == 0)
            continue;
        shiftIn(history.slots[slot].series[reading.graph],
                static_cast<int32_t>(slotField(in, reading.value)));
    }
}

void advanceGridPhase(HistoryStore& history) {
    int32_t next = history.gridPhase.load(std::memory_order_relaxed) + 2;
    if (next >= 12 || next < 0)
        next = 0;
    history.gridPhase.store(next, std::memory_order_relaxed);
}

int32_t historyEntry(const HistoryStore& history, int slot, HistorySeries series, int entry) {
    if (slot < 0 || slot >= kGpuSlotCount || entry < 0 || entry >= kHistoryEntries)
        return kEmptyEntry;
    return history.slots[slot].series[static_cast<int>(series)][entry].load(std::memory_order_relaxed);
}
