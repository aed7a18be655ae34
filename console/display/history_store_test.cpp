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
};

void setAllFlags(GpuPanelSlot& s, int32_t on) {
    store(s.graphicsClockSupported, on);
    store(s.memoryClockSupported, on);
    store(s.gpuLoadSupported, on);
    store(s.memoryUsageSupported, on);
    store(s.temperatureSupported, on);
    store(s.powerDrawSupported, on);
}

void setReadings(GpuPanelSlot& s, int32_t base) {
    store(s.graphicsClock, base + 1);
    store(s.memoryClock, base + 2);
    store(s.gpuLoad, base + 3);
    store(s.memoryUsage, base + 4);
    store(s.temperature, base + 5);
    store(s.powerDraw, base + 6);
}

} // namespace

TEST(HistoryStore, StartsEmptyWithGridPhaseZero) {
    Fixture f;
    for (int slot = 0; slot < kGpuSlotCount; ++slot)
        for (int series = 0; series < kHistorySeriesCount; ++series)
            for (int j = 0; j < kHistoryEntries; ++j)
                ASSERT_EQ(historyEntry(*f.history, slot, series, j), kEmptyEntry);
    EXPECT_EQ(f.history->gridPhase.load(), 0);
}

TEST(HistoryStore, AdvanceShiftsEverySupportedSeries) {
    Fixture f;
    GpuPanelSlot& s = f.panel->slots[3];
    setAllFlags(s, 1);
    for (int tick = 0; tick < 210; ++tick) {
        setReadings(s, tick * 10);
        advanceHistories(*f.history, *f.panel, 3);
    }
    // Entry j holds the reading of tick 209 - j; ticks 0 and 1 fell off.
    for (int series = 0; series < kHistorySeriesCount; ++series) {
        EXPECT_EQ(historyEntry(*f.history, 3, series, 0), 2090 + series + 1);
        EXPECT_EQ(historyEntry(*f.history, 3, series, 207), 20 + series + 1);
    }
    // Other slots untouched.
    EXPECT_EQ(historyEntry(*f.history, 2, gpuLoadHistory, 0), kEmptyEntry);
    EXPECT_EQ(historyEntry(*f.history, 4, gpuLoadHistory, 0), kEmptyEntry);
}

struct FrozenCase {
    const char* name;
    std::atomic<int32_t> GpuPanelSlot::*flag;
    int frozenSeries[2];
};

TEST(HistoryStore, SeriesWithFlagZeroStaysFrozen) {
    const FrozenCase cases[] = {
        {"graphics clock flag",
         &GpuPanelSlot::graphicsClockSupported,
         {graphicsClockHistory, memoryClockHistory}},
        {"memory clock flag",
         &GpuPanelSlot::memoryClockSupported,
         {graphicsClockHistory, memoryClockHistory}},
        {"load", &GpuPanelSlot::gpuLoadSupported, {gpuLoadHistory, gpuLoadHistory}},
        {"memory", &GpuPanelSlot::memoryUsageSupported, {memoryUsageHistory, memoryUsageHistory}},
        {"temperature", &GpuPanelSlot::temperatureSupported, {temperatureHistory, temperatureHistory}},
        {"power", &GpuPanelSlot::powerDrawSupported, {powerDrawHistory, powerDrawHistory}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Fixture f;
        GpuPanelSlot& s = f.panel->slots[0];
        setAllFlags(s, 1);
        setReadings(s, 100);
        advanceHistories(*f.history, *f.panel, 0);
        store(s.*c.flag, 0);
        setReadings(s, 500);
        advanceHistories(*f.history, *f.panel, 0);
        advanceHistories(*f.history, *f.panel, 0);
        for (int series = 0; series < kHistorySeriesCount; ++series) {
            bool frozen = series == c.frozenSeries[0] || series == c.frozenSeries[1];
            if (frozen) {
                EXPECT_EQ(historyEntry(*f.history, 0, series, 0), 100 + series + 1) << series;
                EXPECT_EQ(historyEntry(*f.history, 0, series, 1), kEmptyEntry) << series;
            } else {
                EXPECT_EQ(historyEntry(*f.history, 0, series, 0), 500 + series + 1) << series;
                EXPECT_EQ(historyEntry(*f.history, 0, series, 1), 500 + series + 1) << series;
                EXPECT_EQ(historyEntry(*f.history, 0, series, 2), 100 + series + 1) << series;
            }
        }
    }
}

TEST(HistoryStore, SlotsOutsideTheStoreAreIgnored) {
    Fixture f;
    for (auto& s : f.panel->slots) {
        setAllFlags(s, 1);
        setReadings(s, 7);
    }
    for (int slot : {-1, 8, 9, 1000, -2147483647 - 1})
        advanceHistories(*f.history, *f.panel, slot);
    for (int slot = 0; slot < kGpuSlotCount; ++slot)
        EXPECT_EQ(historyEntry(*f.history, slot, gpuLoadHistory, 0), kEmptyEntry);
    EXPECT_EQ(historyEntry(*f.history, 8, 0, 0), kEmptyEntry);
    EXPECT_EQ(historyEntry(*f.history, 0, 6, 0), kEmptyEntry);
    EXPECT_EQ(historyEntry(*f.history, 0, 0, 208), kEmptyEntry);
}

TEST(HistoryStore, GridPhaseCyclesInStepsOfTwo) {
    Fixture f;
    const int expected[] = {2, 4, 6, 8, 10, 0, 2, 4, 6, 8, 10, 0};
    for (int e : expected) {
        advanceGridPhase(*f.history);
        EXPECT_EQ(f.history->gridPhase.load(), e);
    }
    f.history->gridPhase.store(11);
    advanceGridPhase(*f.history);
    EXPECT_EQ(f.history->gridPhase.load(), 0);
}
