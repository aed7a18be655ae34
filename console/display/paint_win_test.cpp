// Pixels of the offscreen image as the paint functions leave them.
#include "console/display/console_paint_win.h"
#include "console/display/level_meter.h"
#include "console/display/main_window_win.h"
#include "console/display/plot_geometry.h"
#include "console/display/readout_panel.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <memory>

namespace {

constexpr uint32_t rgb(int r, int g, int b) {
    return (static_cast<uint32_t>(r) << 16) | (static_cast<uint32_t>(g) << 8) | static_cast<uint32_t>(b);
}
constexpr uint32_t kWhite = rgb(255, 255, 255);
constexpr uint32_t kBlack = rgb(0, 0, 0);
constexpr uint32_t kLight = rgb(160, 160, 160);
constexpr uint32_t kDark = rgb(105, 105, 105);
constexpr uint32_t kGrid = rgb(0, 128, 64);
constexpr uint32_t kLit = rgb(0, 255, 0);
constexpr uint32_t kDim = rgb(0, 128, 0);

// Colour of src blended with opacity 192 over dst.
uint32_t blended(uint32_t src, uint32_t dst) {
    auto mix = [](int s, int d) { return (s * 192 + d * 63) / 255; };
    return rgb(mix(src >> 16 & 255, dst >> 16 & 255), mix(src >> 8 & 255, dst >> 8 & 255),
               mix(src & 255, dst & 255));
}

bool similar(uint32_t a, uint32_t b) {
    for (int shift : {16, 8, 0})
        if (std::abs(static_cast<int>(a >> shift & 255) - static_cast<int>(b >> shift & 255)) > 2)
            return false;
    return true;
}

std::string hex(uint32_t v) {
    char text[16];
    snprintf(text, sizeof text, "%06x", v & 0xffffff);
    return text;
}

struct Painter {
    std::unique_ptr<ConsoleApp> app = std::make_unique<ConsoleApp>();
    Surface image;
    int w, h;

    Painter(int width, int height) : w(width), h(height) {
        initGpuPanelState(app->panel);
        initHistoryStore(app->history);
        EXPECT_TRUE(createPlotTemplates(app->templates));
        app->font =
            CreateFontW(12, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, SHIFTJIS_CHARSET, OUT_DEFAULT_PRECIS,
                        CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, L"ＭＳ Ｐゴシック");
    }
    ~Painter() {
        releaseSurface(image);
        releasePlotTemplates(app->templates);
        DeleteObject(app->font);
    }
    void paint() {
        releaseSurface(image);
        ASSERT_TRUE(createSurface(image, w, h - 20, RGB(255, 255, 255)));
        paintOffscreen(*app, image.dc, w, h);
        GdiFlush();
    }
    uint32_t at(int x, int y) const { return image.bits[y * image.width + x] & 0xffffff; }
    GpuPanelSlot& slot(int i = 0) { return app->panel.slots[i]; }
    void fill(int series, int32_t value, int slotIndex = 0) {
        for (auto& e : app->history.slots[slotIndex].series[series])
            e.store(value);
    }
};

bool insideRect(const PixelRect& r, int x, int y) {
    return x >= r.left && x < r.right && y >= r.top && y < r.bottom;
}

// Dark (text) pixels inside a rectangle of the image.
int darkPixels(const Painter& p, int left, int top, int right, int bottom, uint32_t background) {
    int n = 0;
    for (int y = top; y < bottom; ++y)
        for (int x = left; x < right; ++x)
            n += p.at(x, y) != background;
    return n;
}

} // namespace

TEST(PaintTemplates, FrameAndLedColours) {
    Painter p(900, 520);
    const Surface& f = p.app->templates.frame;
    auto fp = [&](int x, int y) { return f.bits[y * f.width + x] & 0xffffff; };
    EXPECT_EQ(fp(0, 0), kLight);
    EXPECT_EQ(fp(417, 0), kLight);
    EXPECT_EQ(fp(0, 1), kLight);
    EXPECT_EQ(fp(1, 1), kDark);
    EXPECT_EQ(fp(417, 1), kDark);
    EXPECT_EQ(fp(0, 209), kLight);
    EXPECT_EQ(fp(1, 209), kDark);
    EXPECT_EQ(fp(2, 2), kBlack);
    EXPECT_EQ(fp(417, 209), kBlack);
    const Surface& led = p.app->templates.led;
    auto lp = [&](int x, int y) { return led.bits[y * led.width + x] & 0xffffff; };
    for (int x = 0; x < 20; ++x) {
        bool even = x % 2 == 0;
        EXPECT_EQ(lp(x, 0), even ? kDim : kBlack) << x;
        EXPECT_EQ(lp(x, 1), even ? kBlack : kDim) << x;
        EXPECT_EQ(lp(x, 2), even ? kLit : kDim) << x;
        EXPECT_EQ(lp(x, 3), even ? kDim : kLit) << x;
    }
    const PlotTemplates& t = p.app->templates;
    EXPECT_EQ(t.gridV.width, 1);
    EXPECT_EQ(t.gridV.height, 210);
    EXPECT_EQ(t.gridV.bits[100] & 0xffffff, kGrid);
    EXPECT_EQ(t.gridH.width, 418);
    EXPECT_EQ(t.greenBar.bits[0] & 0xffffff, rgb(0, 255, 0));
    EXPECT_EQ(t.orangeBar.bits[0] & 0xffffff, rgb(255, 64, 0));
    EXPECT_EQ(t.blueBar.bits[0] & 0xffffff, rgb(0, 128, 255));
    EXPECT_EQ(t.graphFrame.width, 417);
    EXPECT_EQ(t.graphFrame.height, 208);
}

TEST(PaintPlots, EmptyGraphsShowFrameAndGridOnly) {
    for (auto size : {std::pair<int, int>{900, 520}, {1200, 900}}) {
        Painter p(size.first, size.second);
        p.paint();
        PlotGeometry g = plotGeometry(p.w, p.h);
        for (int panel = 0; panel < kPlotPanelCount; ++panel) {
            PixelRect r = graphRect(g, panel);
            PixelRect lines[64];
            int n = gridLines(g, panel, 0, lines, 64);
            auto onGrid = [&](int x, int y) {
                for (int i = 0; i < n; ++i)
                    if (insideRect(lines[i], x, y))
                        return true;
                return false;
            };
            EXPECT_EQ(p.at(r.left, r.top), kLight);
            EXPECT_EQ(p.at(r.left + 1, r.top + 1), kDark);
            EXPECT_EQ(p.at(r.left, r.bottom - 1), kLight);
            int wrong = 0;
            for (int y = r.top + 2; y <= r.bottom - 2; ++y)
                for (int x = r.left + 2; x < r.right && x <= r.left + 415; ++x) {
                    uint32_t expected = onGrid(x, y) ? kGrid : kBlack;
                    if (p.at(x, y) != expected && ++wrong < 5)
                        ADD_FAILURE()
                            << "panel " << panel << " at " << x << "," << y << " is " << hex(p.at(x, y));
                }
            EXPECT_EQ(wrong, 0) << p.w;
            // Row P - 1 right of column 0 keeps the image's earlier white.
            EXPECT_EQ(p.at(r.left + 5, r.bottom - 1), kWhite);
        }
        // The white column 416 of the frame image shows only at the widest window.
        PixelRect r = graphRect(g, graphicsClockPanel);
        if (g.s - 18 == 417) {
            EXPECT_EQ(p.at(r.left + 416, r.top + 50), kWhite);
        }
    }
}

TEST(PaintPlots, GridMovesWithThePhase) {
    Painter p(900, 520);
    p.paint();
    // S = 285: vertical lines at 404 - 12k - phase, strictly inside 140..404.
    EXPECT_EQ(p.at(392, 60), kGrid);
    EXPECT_EQ(p.at(390, 60), kBlack);
    p.app->history.gridPhase.store(2);
    p.paint();
    EXPECT_EQ(p.at(392, 60), kBlack);
    EXPECT_EQ(p.at(390, 60), kGrid);
    EXPECT_EQ(p.at(402, 60), kGrid);
    p.app->history.gridPhase.store(10);
    p.paint();
    EXPECT_EQ(p.at(394, 60), kGrid);
}

TEST(PaintPlots, ClockBarsBlendGreenOrangeAndBlue) {
    Painter p(900, 520);
    GpuPanelSlot& s = p.slot();
    store(s.graphicsClockScale, 2000000);
    store(s.graphicsClockRated, 1500000);
    store(s.memoryClockRated, 800000);
    p.app->history.slots[0].series[graphicsClockHistory][0].store(1800000);
    p.app->history.slots[0].series[memoryClockHistory][0].store(400000);
    p.paint();
    // Graphics Clock entry 0 at x 403..404: green rows 65..119, orange 55..64.
    for (int x : {403, 404}) {
        EXPECT_TRUE(similar(p.at(x, 100), blended(rgb(0, 255, 0), kBlack))) << hex(p.at(x, 100));
        EXPECT_TRUE(similar(p.at(x, 119), blended(rgb(0, 255, 0), kBlack))) << hex(p.at(x, 119));
        EXPECT_TRUE(similar(p.at(x, 65), blended(rgb(0, 255, 0), kBlack))) << hex(p.at(x, 65));
        EXPECT_TRUE(similar(p.at(x, 64), blended(rgb(255, 64, 0), kBlack))) << hex(p.at(x, 64));
        EXPECT_TRUE(similar(p.at(x, 55), blended(rgb(255, 64, 0), kBlack))) << hex(p.at(x, 55));
        EXPECT_EQ(p.at(x, 54), kBlack);
    }
    // Over a grid line (y 109 reaches x 403) the bar blends with the grid colour.
    EXPECT_TRUE(similar(p.at(403, 109), blended(rgb(0, 255, 0), kGrid))) << hex(p.at(403, 109));
    EXPECT_TRUE(similar(p.at(404, 109), blended(rgb(0, 255, 0), kBlack))) << hex(p.at(404, 109));
    EXPECT_EQ(p.at(402, 100), kBlack);
    EXPECT_EQ(p.at(405, 100), kBlack);
    // Memory Clock entry 0 at x 2S + 289 = 859: blue, 35 + 1 rows from row 119.
    for (int x : {859, 860}) {
        EXPECT_TRUE(similar(p.at(x, 119), blended(rgb(0, 128, 255), kBlack))) << hex(p.at(x, 119));
        EXPECT_TRUE(similar(p.at(x, 84), blended(rgb(0, 128, 255), kBlack))) << hex(p.at(x, 84));
        EXPECT_EQ(p.at(x, 83), kBlack);
    }
}

TEST(PaintPlots, FullHistoryStopsAtThePanelEdge) {
    Painter p(900, 520);
    GpuPanelSlot& s = p.slot();
    store(s.graphicsClockRated, 1000000);
    p.fill(graphicsClockHistory, 3000000);
    p.paint();
    // Entry 131 is the last bar (x 141..142); the border columns 139 and 140 stay.
    EXPECT_TRUE(similar(p.at(141, 100), blended(rgb(0, 255, 0), kBlack)));
    EXPECT_EQ(p.at(140, 100), kDark);
    EXPECT_EQ(p.at(139, 100), kLight);
    // Full height: from row B - 1 = 119 up to 120 - 71 = 49, not above.
    EXPECT_TRUE(similar(p.at(300, 50), blended(rgb(0, 255, 0), kBlack)) ||
                similar(p.at(300, 50), blended(rgb(0, 255, 0), kGrid)));
    EXPECT_EQ(p.at(301, 48), kDark);
    EXPECT_EQ(p.at(301, 47), kLight);
}

TEST(PaintPlots, LinePointsAndTheTopClamp) {
    Painter p(900, 520);
    p.fill(gpuLoadHistory, 50);
    p.fill(temperatureHistory, 150);
    p.paint();
    // GPU Load: T 151, y = 151 + 71 - 37 = 185 across the graph.
    for (int x : {150, 300, 403})
        EXPECT_EQ(p.at(x, 185), kLit) << x;
    EXPECT_NE(p.at(300, 184), kLit);
    EXPECT_NE(p.at(300, 186), kLit);
    // Temperature above 100 holds at T + 1 = 256 and not above.
    EXPECT_EQ(p.at(300, 256), kLit);
    EXPECT_NE(p.at(300, 255), kLit);
    // Left of the first drawn entry (x 140) nothing of the line.
    EXPECT_NE(p.at(139, 185), kLit);
}

TEST(PaintPlots, NothingOutsideThePanelsWhateverTheReadings) {
    const int32_t extremes[] = {INT_MAX, INT_MIN + 1, -1, 0, 1};
    for (auto size : {std::pair<int, int>{900, 520}, {1200, 900}, {1000, 700}}) {
        for (int32_t v : extremes) {
            Painter p(size.first, size.second);
            GpuPanelSlot& s = p.slot();
#define SET_ALL(name, kind, conv) store(s.name, v);
            GAUGELINE_SAMPLE_FIELDS(SET_ALL)
#undef SET_ALL
            store(s.graphicsClockScale, 1000); // below the rated clock
            store(s.graphicsClockRated, 500000);
            for (int series = 0; series < kHistorySeriesCount; ++series)
                p.fill(series, v == -1 ? 2147483000 : v);
            p.paint();
            PlotGeometry g = plotGeometry(p.w, p.h);
            int stray = 0;
            for (int y = 0; y < p.h - 20; ++y)
                for (int x = 0; x < p.w; ++x) {
                    bool inPanel = insideRect(readoutRect(g), x, y);
                    for (int panel = 0; panel < kPlotPanelCount && !inPanel; ++panel)
                        inPanel =
                            insideRect(meterRect(g, panel), x, y) || insideRect(graphRect(g, panel), x, y);
                    if (!inPanel && p.at(x, y) != kWhite && ++stray < 5)
                        ADD_FAILURE() << size.first << " value " << v << " stray pixel at " << x << "," << y;
                }
            EXPECT_EQ(stray, 0);
        }
    }
}

TEST(PaintMeters, FrameSegmentsAndLitCount) {
    Painter p(900, 520);
    store(p.slot().gpuLoad, 50);
    store(p.slot().gpuLoadSupported, 1);
    p.paint();
    // GPU Load meter at (19, P + 77 = 151), P 74: 14 segments, 7 lit.
    const int mx = 19, my = 151;
    EXPECT_EQ(p.at(mx, my), kLight);
    EXPECT_EQ(p.at(mx + 81, my), kLight);
    EXPECT_EQ(p.at(mx + 1, my + 1), kDark);
    EXPECT_EQ(p.at(mx + 81, my + 10), kWhite);
    EXPECT_EQ(p.at(mx + 10, my + 73), kWhite);
    EXPECT_EQ(p.at(mx, my + 73), kLight);
    for (int i = 0; i < 14; ++i) {
        int y = my + 74 - 27 - 3 * i;
        bool lit = i < 7;
        for (int bx : {23, 41}) {
            int x = mx + bx;
            EXPECT_EQ(p.at(x, y), lit ? kLit : kDim) << i;
            EXPECT_EQ(p.at(x + 1, y), lit ? kDim : kBlack) << i;
            EXPECT_EQ(p.at(x, y + 1), lit ? kDim : kBlack) << i;
            EXPECT_EQ(p.at(x + 1, y + 1), lit ? kLit : kDim) << i;
            EXPECT_EQ(p.at(x + 16, y), lit ? kLit : kDim) << i;
            EXPECT_EQ(p.at(x + 17, y), kBlack) << i; // x 40 between the blocks, x 58 right of them
        }
        EXPECT_EQ(p.at(mx + 23, y + 2), kBlack) << i; // the row between segments
    }
    // P - 32 = 42 is a multiple of 3: the top segment (13, unlit) has a strip.
    int topY = my + 74 - 27 - 39;
    EXPECT_EQ(p.at(mx + 23, topY - 1), kDim);
    EXPECT_EQ(p.at(mx + 24, topY - 1), kBlack);
    EXPECT_EQ(p.at(mx + 23, topY - 2), kBlack);
}

TEST(PaintMeters, TopStripOnlyWhenTheHeightFits) {
    // 1200 x 900: P 201, no strip; 1200 x 897: P 200, strip.
    for (auto c : {std::pair<int, bool>{900, false}, {897, true}}) {
        Painter p(1200, c.first);
        store(p.slot().temperature, 100);
        p.paint();
        PlotGeometry g = plotGeometry(p.w, p.h);
        int n = meterSegmentCount(g.p);
        PixelRect m = meterRect(g, temperaturePanel);
        int topY = m.top + meterSegmentY(g.p, n - 1);
        EXPECT_EQ(p.at(m.left + 23, topY), kLit);
        EXPECT_EQ(p.at(m.left + 23, topY - 1), c.second ? kLit : kBlack) << g.p;
    }
}

TEST(PaintMeters, CaptionsReadNoSupportAtStart) {
    Painter p(900, 520);
    p.paint();
    PlotGeometry g = plotGeometry(p.w, p.h);
    // "No Support" drawn alone for comparison: its width in green pixels.
    Surface ref;
    ASSERT_TRUE(createSurface(ref, 100, 20, RGB(0, 0, 0)));
    SelectObject(ref.dc, p.app->font);
    SetBkMode(ref.dc, TRANSPARENT);
    SetTextColor(ref.dc, RGB(0, 255, 0));
    TextOutW(ref.dc, 0, 0, L"No Support", 10);
    GdiFlush();
    int refRight = -1;
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 100; ++x)
            if ((ref.bits[y * 100 + x] & 0xffffff) == kLit && x > refRight)
                refRight = x;
    releaseSurface(ref);
    ASSERT_GT(refRight, 20);
    for (int panel = 0; panel < kPlotPanelCount; ++panel) {
        PixelRect m = meterRect(g, panel);
        int left = 1000, right = -1;
        for (int y = m.top + g.p - 18; y < m.top + g.p - 2; ++y)
            for (int x = m.left; x < m.right; ++x)
                if (p.at(x, y) == kLit) {
                    left = std::min(left, x - m.left);
                    right = std::max(right, x - m.left);
                }
        EXPECT_GE(left, 14) << panel;
        EXPECT_LE(left, 16) << panel;
        EXPECT_EQ(right - 14, refRight) << panel;
    }
}

TEST(PaintReadout, SixteenNoSupportRowsAtStart) {
    Painter p(900, 520);
    p.paint();
    int top = p.h - 162;
    Surface ref;
    ASSERT_TRUE(createSurface(ref, 200, 20, RGB(255, 255, 255)));
    SelectObject(ref.dc, p.app->font);
    SetBkMode(ref.dc, TRANSPARENT);
    TextOutW(ref.dc, 0, 0, L"No Support", 10);
    GdiFlush();
    int refDark = 0;
    for (int i = 0; i < 200 * 20; ++i)
        refDark += (ref.bits[i] & 0xffffff) != kWhite;
    releaseSurface(ref);
    ASSERT_GT(refDark, 20);
    ReadoutRow rows[kReadoutRowCount];
    buildReadoutRows(shownSnapshot(*p.app), rows);
    for (const ReadoutRow& row : rows) {
        int x0 = 22 + row.valueX;
        int right = row.valueX == 170 ? 22 + 410 : 22 + 760;
        EXPECT_EQ(darkPixels(p, x0, top + row.y, right, top + row.y + 12, kWhite), refDark) << row.y;
        EXPECT_GT(darkPixels(p, 22 + row.labelX, top + row.y, x0, top + row.y + 12, kWhite), 20) << row.y;
    }
}

TEST(PaintReadout, DriverModelTwoLeavesTheValueEmpty) {
    Painter p(1200, 900);
    store(p.slot().driverModelSupported, 1);
    store(p.slot().driverModel, 2);
    p.paint();
    int top = p.h - 162;
    EXPECT_EQ(darkPixels(p, 22 + 610, top, 22 + 760, top + 12, kWhite), 0);
    EXPECT_GT(darkPixels(p, 22 + 410, top, 22 + 600, top + 12, kWhite), 20);
    store(p.slot().driverModel, 0);
    p.paint();
    EXPECT_GT(darkPixels(p, 22 + 610, top, 22 + 760, top + 12, kWhite), 20);
}

TEST(PaintReadout, PanelsFollowTheShownSlotAndIgnoreSlotsBeyondSeven) {
    Painter p(900, 520);
    store(p.slot(3).gpuLoadSupported, 1);
    store(p.slot(3).gpuLoad, 100);
    p.app->selectedGpu.store(3);
    p.paint();
    // All 14 GPU Load segments lit for slot 3.
    EXPECT_EQ(p.at(19 + 23, 151 + 74 - 27 - 39), kLit);
    p.app->selectedGpu.store(12);
    p.paint();
    EXPECT_EQ(p.at(19 + 23, 151 + 74 - 27 - 39), kDim);
}
