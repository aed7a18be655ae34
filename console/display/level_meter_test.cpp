#include "console/display/level_meter.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

PanelSlotSnapshot blank() {
    PanelSlotSnapshot s;
    std::memset(&s, 0, sizeof s);
    return s;
}

} // namespace

TEST(LevelMeter, SegmentCountsAndTopStrip) {
    struct Case {
        int p, segments;
        bool strip;
        int topY;
    };
    const Case cases[] = {
        {74, 14, true, 74 - 27 - 39},
        {200, 56, true, 200 - 27 - 165},
        {201, 57, false, 201 - 27 - 168},
        {134, 34, true, 134 - 27 - 99},
        {75, 15, false, 75 - 27 - 42},
        {33, 1, false, 6},
        {32, 0, false, 0},
        {0, 0, false, 0},
        {-40, 0, false, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(meterSegmentCount(c.p), c.segments) << c.p;
        EXPECT_EQ(meterHasTopStrip(c.p), c.strip) << c.p;
        if (c.segments > 0) {
            EXPECT_EQ(meterSegmentY(c.p, c.segments - 1), c.topY) << c.p;
            // The top segment (and its strip) stays inside the black interior.
            EXPECT_GE(meterSegmentY(c.p, c.segments - 1) - (c.strip ? 1 : 0), 2) << c.p;
            EXPECT_LE(meterSegmentY(c.p, 0) + 2, c.p - 1) << c.p;
        }
    }
}

TEST(LevelMeter, LitCounts) {
    struct Case {
        const char* name;
        int panel;
        void (*set)(PanelSlotSnapshot&);
        int segments;
        int lit;
    };
    const Case cases[] = {
        {"load 50 at P 74", gpuLoadPanel, [](PanelSlotSnapshot& s) { s.gpuLoad = 50; }, 14, 7},
        {"load 100", gpuLoadPanel, [](PanelSlotSnapshot& s) { s.gpuLoad = 100; }, 57, 57},
        {"load 250 above 1", gpuLoadPanel, [](PanelSlotSnapshot& s) { s.gpuLoad = 250; }, 14, 14},
        {"load 3 rounds down", gpuLoadPanel, [](PanelSlotSnapshot& s) { s.gpuLoad = 3; }, 14, 0},
        {"load 4 rounds up", gpuLoadPanel, [](PanelSlotSnapshot& s) { s.gpuLoad = 4; }, 14, 1},
        {"temperature below zero", temperaturePanel, [](PanelSlotSnapshot& s) { s.temperature = -12; }, 14,
         0},
        {"temperature 45", temperaturePanel, [](PanelSlotSnapshot& s) { s.temperature = 45; }, 56, 25},
        {"clock on scale", graphicsClockPanel,
         [](PanelSlotSnapshot& s) {
             s.graphicsClock = 1000000;
             s.graphicsClockScale = 2000000;
             s.graphicsClockRated = 1500000;
         },
         14, 7},
        {"clock on rated when no scale", graphicsClockPanel,
         [](PanelSlotSnapshot& s) {
             s.graphicsClock = 750000;
             s.graphicsClockRated = 1500000;
         },
         14, 7},
        {"clock above scale", graphicsClockPanel,
         [](PanelSlotSnapshot& s) {
             s.graphicsClock = 3000000;
             s.graphicsClockScale = 2000000;
         },
         57, 57},
        {"clock zero scale and rated", graphicsClockPanel,
         [](PanelSlotSnapshot& s) { s.graphicsClock = 3000000; }, 14, 0},
        {"memory clock", memoryClockPanel,
         [](PanelSlotSnapshot& s) {
             s.memoryClock = 4000000;
             s.memoryClockRated = 8000000;
         },
         56, 28},
        {"memory clock zero scale", memoryClockPanel, [](PanelSlotSnapshot& s) { s.memoryClock = 1; }, 56, 0},
        {"memory usage 3/4", memoryUsagePanel,
         [](PanelSlotSnapshot& s) {
             s.memoryUsage = 6000;
             s.memoryTotal = 8000;
         },
         57, 43},
        // r * 14 + 0.5 is 6.9999997 in double precision but 7 in single.
        {"memory usage in double precision", memoryUsagePanel,
         [](PanelSlotSnapshot& s) {
             s.memoryUsage = 11684132;
             s.memoryTotal = 25165824;
         },
         14, 6},
        {"memory usage zero total", memoryUsagePanel, [](PanelSlotSnapshot& s) { s.memoryUsage = 6000; }, 57,
         0},
        {"memory usage above total", memoryUsagePanel,
         [](PanelSlotSnapshot& s) {
             s.memoryUsage = 4294967295u;
             s.memoryTotal = 1;
         },
         57, 57},
        {"power half", powerDrawPanel,
         [](PanelSlotSnapshot& s) {
             s.powerDraw = 125000;
             s.powerLimit = 250000;
         },
         14, 7},
        {"power zero limit", powerDrawPanel, [](PanelSlotSnapshot& s) { s.powerDraw = 125000; }, 14, 0},
        {"no segments", gpuLoadPanel, [](PanelSlotSnapshot& s) { s.gpuLoad = 100; }, 0, 0},
    };
    for (const auto& c : cases) {
        PanelSlotSnapshot s = blank();
        c.set(s);
        EXPECT_EQ(meterLitCount(s, c.panel, c.segments), c.lit) << c.name;
    }
}

TEST(LevelMeter, CaptionsAndPositions) {
    PanelSlotSnapshot s = blank();
    wchar_t text[kMeterCaptionChars];
    for (int panel = 0; panel < kPlotPanelCount; ++panel) {
        EXPECT_EQ(meterCaption(s, panel, text), 14) << panel;
        EXPECT_EQ(std::wstring(text), L"No Support") << panel;
    }
    s.graphicsClockSupported = s.memoryClockSupported = s.gpuLoadSupported = 1;
    s.memoryUsageSupported = s.temperatureSupported = s.powerDrawSupported = 1;
    s.graphicsClock = 1999;
    s.memoryClock = 1350000;
    s.gpuLoad = 50;
    s.memoryUsage = 1048576;
    s.temperature = 45;
    s.powerDraw = 123456;
    struct Case {
        int panel;
        int x;
        const wchar_t* text;
    };
    const Case cases[] = {
        {graphicsClockPanel, 12, L"1.99 MHz"}, {memoryClockPanel, 12, L"1350.00 MHz"},
        {gpuLoadPanel, 32, L"50 %"},           {memoryUsagePanel, 16, L"1024.00 MB"},
        {temperaturePanel, 29, L"45 \u2103"},  {powerDrawPanel, 22, L"123.45 W"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(meterCaption(s, c.panel, text), c.x) << c.panel;
        EXPECT_EQ(std::wstring(text), c.text) << c.panel;
    }
    s.graphicsClock = 5;
    meterCaption(s, graphicsClockPanel, text);
    EXPECT_EQ(std::wstring(text), L"0.00 MHz");
}
