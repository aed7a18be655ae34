// Per-second and per-paint work of the display: history advance, the bar and
// line geometry of a full graph, the readout texts.
#include "console/display/history_store.h"
#include "console/display/plot_geometry.h"
#include "console/display/readout_panel.h"
#include "console/display/value_format.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>

static void advanceEightSlots(benchmark::State& state) {
    auto history = std::make_unique<HistoryStore>();
    auto panel = std::make_unique<GpuPanelState>();
    initHistoryStore(*history);
    initGpuPanelState(*panel);
    for (auto& s : panel->slots) {
        store(s.graphicsClockSupported, 1);
        store(s.memoryClockSupported, 1);
        store(s.gpuLoadSupported, 1);
        store(s.memoryUsageSupported, 1);
        store(s.temperatureSupported, 1);
        store(s.powerDrawSupported, 1);
    }
    for (auto _ : state) {
        for (int slot = 0; slot < kGpuSlotCount; ++slot)
            advanceHistories(*history, *panel, slot);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(advanceEightSlots);

static void graphGeometryWidest(benchmark::State& state) {
    PlotGeometry g = plotGeometry(1200, 900);
    int32_t entries[kHistoryEntries];
    for (int j = 0; j < kHistoryEntries; ++j)
        entries[j] = 900000 + 5000 * (j % 40);
    BarPiece pieces[2 * kHistoryEntries];
    PixelPoint points[kHistoryEntries];
    for (auto _ : state) {
        int n =
            clockBars(g, PlotPanel::GraphicsClock, entries, 2000000, 1500000, pieces, 2 * kHistoryEntries);
        n += clockBars(g, PlotPanel::MemoryClock, entries, 0, 1500000, pieces, 2 * kHistoryEntries);
        for (PlotPanel panel :
             {PlotPanel::GpuLoad, PlotPanel::MemoryUsage, PlotPanel::Temperature, PlotPanel::PowerDraw})
            n += linePoints(g, panel, entries, 2000000, points, kHistoryEntries);
        benchmark::DoNotOptimize(n);
    }
}
BENCHMARK(graphGeometryWidest);

static void readoutTexts(benchmark::State& state) {
    PanelSlotSnapshot s;
    std::memset(&s, 0, sizeof s);
    s.graphicsClockSupported = s.memoryUsageSupported = s.coreVoltageSupported = s.powerDrawSupported = 1;
    s.graphicsClock = 1350000;
    s.memoryUsage = 3000000;
    s.memoryTotal = 8388608;
    s.coreVoltage = 1050000;
    ReadoutRow rows[kReadoutRowCount];
    for (auto _ : state) {
        buildReadoutRows(s, rows);
        benchmark::DoNotOptimize(rows);
    }
}
BENCHMARK(readoutTexts);

static void twoDecimalFormat(benchmark::State& state) {
    char text[kValueTextBytes];
    int64_t v = 1234567;
    for (auto _ : state) {
        benchmark::DoNotOptimize(formatTwoDecimal(v++, text));
    }
}
BENCHMARK(twoDecimalFormat);
