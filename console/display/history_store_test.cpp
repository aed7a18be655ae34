#include "console/display/history_store.h"

#include <gtest/gtest.h>

#include <memory>

TEST(HistoryStore, AdvanceShiftsSupportedSeriesFreezesTheRestAndMovesTheGrid) {
    auto history = std::make_unique<HistoryStore>();
    auto panel = std::make_unique<GpuPanelState>();
    initGpuPanelState(*panel);
    GpuPanelSlot& s = panel->slots[0];
    std::atomic<int32_t>* flags[kHistorySeriesCount] = {&s.graphicsClockSupported, &s.memoryClockSupported,
                                                        &s.gpuLoadSupported,       &s.memoryUsageSupported,
                                                        &s.temperatureSupported,   &s.powerDrawSupported};
    // Series frozen when each flag in turn is 0 at the second advance: the clocks move together.
    const int frozen[kHistorySeriesCount][2] = {{0, 1}, {0, 1}, {2, 2}, {3, 3}, {4, 4}, {5, 5}};
    for (int off = 0; off < kHistorySeriesCount; ++off) {
        initHistoryStore(*history);
        for (int32_t base : {100, 500}) {
            for (int k = 0; k < kHistorySeriesCount; ++k)
                store(*flags[k], base == 100 || k != off);
            store(s.graphicsClock, base + 1);
            store(s.memoryClock, base + 2);
            store(s.gpuLoad, base + 3);
            store(s.memoryUsage, base + 4);
            store(s.temperature, base + 5);
            store(s.powerDraw, base + 6);
            advanceHistories(*history, *panel, 0);
        }
        for (int series = 0; series < kHistorySeriesCount; ++series) {
            const bool still = series == frozen[off][0] || series == frozen[off][1];
            auto entry = [&](int slot, int j) {
                return historyEntry(*history, slot, HistorySeries(series), j);
            };
            EXPECT_EQ(entry(0, 0), (still ? 100 : 500) + series + 1) << off << " " << series;
            EXPECT_EQ(entry(0, 1), still ? kEmptyEntry : 100 + series + 1) << off << " " << series;
            EXPECT_EQ(entry(1, 0), kEmptyEntry) << series;
        }
    }
    // The grid phase cycles in steps of two.
    for (int e : {2, 4, 6, 8, 10, 0, 2}) {
        advanceGridPhase(*history);
        EXPECT_EQ(history->gridPhase.load(), e);
    }
}
