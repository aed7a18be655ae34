#include "console/display/history_store.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

struct Fixture {
    std::unique_ptr<HistoryStore> history = std::make_unique<HistoryStore>();
    std::unique_ptr<GpuPanelState> panel = std::make_unique<GpuPanelState>();
    Fixture() {
        initHistoryStore(*history);
        initGpuPanelState(*panel);
    }
    std::atomic<int32_t> GpuPanelSlot::*flagOff = nullptr;
    // Every flag but flagOff on, reading of series k base + k + 1; then one advance of slot.
    void advance(int slot, int32_t base) {
        GpuPanelSlot& s = panel->slots[slot];
        for (auto flag : {&GpuPanelSlot::graphicsClockSupported, &GpuPanelSlot::memoryClockSupported,
                          &GpuPanelSlot::gpuLoadSupported, &GpuPanelSlot::memoryUsageSupported,
                          &GpuPanelSlot::temperatureSupported, &GpuPanelSlot::powerDrawSupported})
            store(s.*flag, flag != flagOff);
        store(s.graphicsClock, base + 1);
        store(s.memoryClock, base + 2);
        store(s.gpuLoad, base + 3);
        store(s.memoryUsage, base + 4);
        store(s.temperature, base + 5);
        store(s.powerDraw, base + 6);
        advanceHistories(*history, *panel, slot);
    }
    int32_t entry(int slot, int series, int j) {
        return historyEntry(*history, slot, HistorySeries(series), j);
    }
};

} // namespace

TEST(HistoryStore, SeriesWithFlagZeroStaysFrozen) {
    const struct {
        std::atomic<int32_t> GpuPanelSlot::*flag;
        int frozen[2];
    } cases[] = {
        {&GpuPanelSlot::graphicsClockSupported, {0, 1}}, // the clocks move together
        {&GpuPanelSlot::memoryClockSupported, {0, 1}},   {&GpuPanelSlot::gpuLoadSupported, {2, 2}},
        {&GpuPanelSlot::memoryUsageSupported, {3, 3}},   {&GpuPanelSlot::temperatureSupported, {4, 4}},
        {&GpuPanelSlot::powerDrawSupported, {5, 5}},
    };
    for (const auto& c : cases) {
        Fixture f;
        f.advance(0, 100);
        f.flagOff = c.flag;
        f.advance(0, 500);
        for (int series = 0; series < kHistorySeriesCount; ++series) {
            bool frozen = series == c.frozen[0] || series == c.frozen[1];
            EXPECT_EQ(f.entry(0, series, 0), (frozen ? 100 : 500) + series + 1) << series;
            EXPECT_EQ(f.entry(0, series, 1), frozen ? kEmptyEntry : 100 + series + 1) << series;
            EXPECT_EQ(f.entry(1, series, 0), kEmptyEntry) << series;
        }
    }
}

TEST(HistoryStore, GridPhaseCyclesInStepsOfTwo) {
    Fixture f;
    for (int e : {2, 4, 6, 8, 10, 0, 2}) {
        advanceGridPhase(*f.history);
        EXPECT_EQ(f.history->gridPhase.load(), e);
    }
}
