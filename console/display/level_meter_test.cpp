#include "console/display/level_meter.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Every panel's reading v; a is each clock scale, the memory total and the
// power limit, b each rated clock. A panel reads only its own fields.
PanelSlotSnapshot reading(int64_t v, int64_t a = 0, int64_t b = 0) {
    PanelSlotSnapshot s{};
    s.graphicsClock = v;
    s.memoryClock = v;
    s.gpuLoad = v;
    s.memoryUsage = v;
    s.temperature = v;
    s.powerDraw = v;
    s.graphicsClockScale = s.memoryClockScale = a;
    s.memoryTotal = a;
    s.powerLimit = a;
    s.graphicsClockRated = s.memoryClockRated = b;
    return s;
}

} // namespace

TEST(LevelMeter, LitCounts) {
    struct Case {
        PlotPanel panel;
        int64_t v, a, b;
        int segments, lit;
    };
    const Case cases[] = {
        {PlotPanel::GpuLoad, 50, 0, 0, 14, 7},
        {PlotPanel::GpuLoad, 100, 0, 0, 57, 57},
        {PlotPanel::GpuLoad, 250, 0, 0, 14, 14},
        {PlotPanel::GpuLoad, 3, 0, 0, 14, 0}, // rounds down
        {PlotPanel::GpuLoad, 4, 0, 0, 14, 1}, // rounds up
        {PlotPanel::Temperature, -12, 0, 0, 14, 0},
        {PlotPanel::Temperature, 45, 0, 0, 56, 25},
        {PlotPanel::GraphicsClock, 1000000, 2000000, 1500000, 14, 7}, // on the scale
        {PlotPanel::GraphicsClock, 750000, 0, 1500000, 14, 7},        // on the rated clock
        {PlotPanel::GraphicsClock, 3000000, 2000000, 0, 57, 57},
        {PlotPanel::GraphicsClock, 3000000, 0, 0, 14, 0},
        {PlotPanel::MemoryClock, 4000000, 0, 8000000, 56, 28},
        {PlotPanel::MemoryUsage, 6000, 8000, 0, 57, 43},
        // r * 14 + 0.5 is 6.9999997 in double precision but 7 in single.
        {PlotPanel::MemoryUsage, 11684132, 25165824, 0, 14, 6},
        {PlotPanel::MemoryUsage, 4294967295u, 1, 0, 57, 57},
        {PlotPanel::PowerDraw, 125000, 250000, 0, 14, 7},
        {PlotPanel::PowerDraw, 125000, 0, 0, 14, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(meterLitCount(reading(c.v, c.a, c.b), c.panel, c.segments), c.lit)
            << static_cast<int>(c.panel) << " " << c.v;
}

TEST(LevelMeter, CaptionsAndPositions) {
    struct Case {
        PlotPanel panel;
        int64_t v;
        int x;
        const wchar_t* text;
    };
    const Case cases[] = {
        {PlotPanel::GraphicsClock, 1999, 12, L"1.99 MHz"},     {PlotPanel::GraphicsClock, 5, 12, L"0.00 MHz"},
        {PlotPanel::MemoryClock, 1350000, 12, L"1350.00 MHz"}, {PlotPanel::GpuLoad, 50, 32, L"50 %"},
        {PlotPanel::MemoryUsage, 1048576, 16, L"1024.00 MB"},  {PlotPanel::Temperature, 45, 29, L"45 \u2103"},
        {PlotPanel::PowerDraw, 123456, 22, L"123.45 W"},
    };
    for (const auto& c : cases) {
        PanelSlotSnapshot s = reading(c.v);
        s.graphicsClockSupported = s.memoryClockSupported = s.gpuLoadSupported = 1;
        s.memoryUsageSupported = s.temperatureSupported = s.powerDrawSupported = 1;
        wchar_t text[kMeterCaptionChars];
        EXPECT_EQ(meterCaption(s, c.panel, text), c.x) << c.text;
        EXPECT_EQ(std::wstring(text), c.text);
    }
}
