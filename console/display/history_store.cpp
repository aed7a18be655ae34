#include "console/display/history_store.h"

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
    SlotHistory& out = history.slots[slot];
    if (relaxed(in.graphicsClockSupported) != 0 && relaxed(in.memoryClockSupported) != 0) {
        shiftIn(out.series[static_cast<int>(HistorySeries::GraphicsClock)], relaxed(in.graphicsClock));
        shiftIn(out.series[static_cast<int>(HistorySeries::MemoryClock)], relaxed(in.memoryClock));
    }
    if (relaxed(in.gpuLoadSupported) != 0)
        shiftIn(out.series[static_cast<int>(HistorySeries::GpuLoad)], relaxed(in.gpuLoad));
    if (relaxed(in.memoryUsageSupported) != 0)
        shiftIn(out.series[static_cast<int>(HistorySeries::MemoryUsage)],
                static_cast<int32_t>(relaxed(in.memoryUsage)));
    if (relaxed(in.temperatureSupported) != 0)
        shiftIn(out.series[static_cast<int>(HistorySeries::Temperature)], relaxed(in.temperature));
    if (relaxed(in.powerDrawSupported) != 0)
        shiftIn(out.series[static_cast<int>(HistorySeries::PowerDraw)], relaxed(in.powerDraw));
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
