#include "console/display/level_meter.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Every panel's reading v; a is each clock scale, the memory total and the
// power limit, b each rated clock; all supported. A panel reads only its own fields.
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
    s.graphicsClockSupported = s.memoryClockSupported = s.gpuLoadSupported = 1;
    s.memoryUsageSupported = s.temperatureSupported = s.powerDrawSupported = 1;
    return s;
}

} // namespace

TEST(LevelMeter, LitCountsAndCaptions) {
    struct Case {
        PlotPanel panel;
        int64_t v, a, b;
        int segments, lit, x;
        const wchar_t* caption;
    };
    const Case cases[] = {
        {PlotPanel::GpuLoad, 50, 0, 0, 14, 7, 32, L"50 %"},
        {PlotPanel::GpuLoad, 250, 0, 0, 14, 14, 32, L"250 %"},
        {PlotPanel::GpuLoad, 3, 0, 0, 14, 0, 32, L"3 %"}, // rounds down
        {PlotPanel::GpuLoad, 4, 0, 0, 14, 1, 32, L"4 %"}, // rounds up
        {PlotPanel::Temperature, 45, 0, 0, 56, 25, 29, L"45 \u2103"},
        {PlotPanel::GraphicsClock, 1000000, 2000000, 1500000, 14, 7, 12, L"1000.00 MHz"}, // on the scale
        {PlotPanel::GraphicsClock, 750000, 0, 1500000, 14, 7, 12, L"750.00 MHz"}, // on the rated clock
        {PlotPanel::GraphicsClock, 3000000, 2000000, 0, 57, 57, 12, L"3000.00 MHz"},
        {PlotPanel::GraphicsClock, 1999, 0, 0, 14, 0, 12, L"1.99 MHz"},
        {PlotPanel::MemoryClock, 4000000, 0, 8000000, 56, 28, 12, L"4000.00 MHz"},
        {PlotPanel::MemoryUsage, 6000, 8000, 0, 57, 43, 16, L"5.85 MB"},
        // r * 14 + 0.5 is 6.9999997 in double precision but 7 in single.
        {PlotPanel::MemoryUsage, 11684132, 25165824, 0, 14, 6, 16, L"11410.28 MB"},
        {PlotPanel::MemoryUsage, 4294967295u, 1, 0, 57, 57, 16, L"4194303.99 MB"},
        {PlotPanel::PowerDraw, 125000, 250000, 0, 14, 7, 22, L"125.00 W"},
        {PlotPanel::PowerDraw, 123456, 0, 0, 14, 0, 22, L"123.45 W"},
    };
    for (const auto& c : cases) {
        PanelSlotSnapshot s = reading(c.v, c.a, c.b);
        wchar_t text[kMeterCaptionChars];
        EXPECT_EQ(meterLitCount(s, c.panel, c.segments), c.lit) << c.caption;
        EXPECT_EQ(meterCaption(s, c.panel, text), c.x) << c.caption;
        EXPECT_EQ(std::wstring(text), c.caption);
    }
}
