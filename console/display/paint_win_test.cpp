// Pixels of the offscreen image as the paint functions leave them.
#include "console/display/console_paint_win.h"
#include "console/display/level_meter.h"
#include "console/display/main_window_win.h"
#include "console/display/readout_panel.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <memory>
#include <vector>

namespace {

constexpr uint32_t rgb(int r, int g, int b) {
    return (static_cast<uint32_t>(r) << 16) | (static_cast<uint32_t>(g) << 8) | static_cast<uint32_t>(b);
}
constexpr uint32_t kWhite = rgb(255, 255, 255), kBlack = 0, kLight = rgb(160, 160, 160);
constexpr uint32_t kDark = rgb(105, 105, 105), kGrid = rgb(0, 128, 64), kLit = rgb(0, 255, 0),
                   kDim = rgb(0, 128, 0);
constexpr uint32_t kGreen = rgb(0, 255, 0), kOrange = rgb(255, 64, 0), kBlue = rgb(0, 128, 255);

// Colour of a bar blended with opacity 192 over dst.
uint32_t blended(uint32_t src, uint32_t dst) {
    auto mix = [&](int shift) { return ((src >> shift & 255) * 192 + (dst >> shift & 255) * 63) / 255; };
    return rgb(mix(16), mix(8), mix(0));
}

bool similar(uint32_t a, uint32_t b) {
    for (int shift : {16, 8, 0})
        if (std::abs(static_cast<int>(a >> shift & 255) - static_cast<int>(b >> shift & 255)) > 2)
            return false;
    return true;
}

HFONT consoleFont() {
    return CreateFontW(12, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, SHIFTJIS_CHARSET, OUT_DEFAULT_PRECIS,
                       CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, L"ＭＳ Ｐゴシック");
}

struct Painter {
    std::unique_ptr<ConsoleApp> app = std::make_unique<ConsoleApp>();
    Surface image;
    int w, h;

    Painter(int width, int height) : w(width), h(height) {
        initGpuPanelState(app->panel);
        initHistoryStore(app->history);
        EXPECT_TRUE(createPlotTemplates(app->templates));
        app->font = consoleFont();
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
    void fill(HistorySeries series, int32_t value) {
        for (auto& e : app->history.slots[0].series[static_cast<int>(series)])
            e.store(value);
    }
    // Pixels other than background inside a rectangle.
    int inked(int left, int top, int right, int bottom, uint32_t background) const {
        int n = 0;
        for (int y = top; y < bottom; ++y)
            for (int x = left; x < right; ++x)
                n += at(x, y) != background;
        return n;
    }
};

bool insideRect(const PixelRect& r, int x, int y) {
    return x >= r.left && x < r.right && y >= r.top && y < r.bottom;
}

// Pixels text drawn alone covers: its rightmost lit column on black, or its inked count on white.
int textFootprint(HFONT font, const wchar_t* text, bool rightmostLit) {
    Surface ref;
    createSurface(ref, 200, 20, rightmostLit ? RGB(0, 0, 0) : RGB(255, 255, 255));
    SelectObject(ref.dc, font);
    SetBkMode(ref.dc, TRANSPARENT);
    SetTextColor(ref.dc, rightmostLit ? RGB(0, 255, 0) : RGB(0, 0, 0));
    TextOutW(ref.dc, 0, 0, text, lstrlenW(text));
    GdiFlush();
    int result = rightmostLit ? -1 : 0;
    for (int i = 0; i < 200 * 20; ++i) {
        uint32_t c = ref.bits[i] & 0xffffff;
        if (rightmostLit && c == kLit)
            result = std::max(result, i % 200);
        if (!rightmostLit && c != kWhite)
            ++result;
    }
    releaseSurface(ref);
    return result;
}

// A probe expects the colour itself; with kNot anything else; with kBar that
// bar colour blended over black, with kBar | kOnGrid over a grid line.
constexpr uint32_t kNot = 1u << 24, kBar = 1u << 25, kOnGrid = 1u << 26;
struct Probe {
    int x, y;
    uint32_t want;
};

bool matches(uint32_t c, uint32_t want) {
    const uint32_t colour = want & 0xffffff;
    if (want & kBar)
        return similar(c, blended(colour, want & kOnGrid ? kGrid : kBlack));
    return (c == colour) != ((want & kNot) != 0);
}

} // namespace

TEST(PaintPlots, ProbesOverReadingsPhaseAndShownSlot) {
    struct Scene {
        const char* name;
        int w, h;
        void (*set)(Painter&);
        std::vector<Probe> probes;
    };
    const Scene scenes[] = {
        // S = 285: vertical grid lines at 404 - 12k - phase, strictly inside 140..404.
        {"grid phase 0", 900, 520, [](Painter&) {}, {{392, 60, kGrid}, {390, 60, kBlack}}},
        {"grid phase 2",
         900,
         520,
         [](Painter& p) { p.app->history.gridPhase.store(2); },
         {{392, 60, kBlack}, {390, 60, kGrid}, {402, 60, kGrid}}},
        {"grid phase 10",
         900,
         520,
         [](Painter& p) { p.app->history.gridPhase.store(10); },
         {{394, 60, kGrid}}},
        // Graphics Clock entry 0 at x 403..404: green rows 65..119, orange 55..64;
        // Memory Clock entry 0 at x 2S + 289 = 859: blue, 35 + 1 rows from row 119.
        {"clock bars",
         900,
         520,
         [](Painter& p) {
             store(p.slot().graphicsClockScale, 2000000);
             store(p.slot().graphicsClockRated, 1500000);
             store(p.slot().memoryClockRated, 800000);
             p.app->history.slots[0].series[0][0].store(1800000);
             p.app->history.slots[0].series[1][0].store(400000);
         },
         {{404, 119, kBar | kGreen},
          {404, 65, kBar | kGreen},
          {404, 64, kBar | kOrange},
          {403, 55, kBar | kOrange},
          {404, 54, kBlack},
          {403, 109, kBar | kOnGrid | kGreen},
          {402, 100, kBlack},
          {405, 100, kBlack},
          {859, 119, kBar | kBlue},
          {860, 84, kBar | kBlue},
          {859, 83, kBlack}}},
        // Entry 131 is the last bar (x 141..142); from row B - 1 = 119 up to 49, not above.
        {"full history",
         900,
         520,
         [](Painter& p) {
             store(p.slot().graphicsClockRated, 1000000);
             p.fill(HistorySeries::GraphicsClock, 3000000);
         },
         {{141, 100, kBar | kGreen},
          {140, 100, kDark},
          {139, 100, kLight},
          {300, 50, kBar | kGreen},
          {301, 48, kDark},
          {301, 47, kLight}}},
        // GPU Load: T 151, y = 151 + 71 - 37 = 185; Temperature above 100 holds at
        // T + 1 = 256; Memory Usage at 3/4 of its total: 222 + 104 - 55.
        {"line points",
         900,
         520,
         [](Painter& p) {
             p.fill(HistorySeries::GpuLoad, 50);
             p.fill(HistorySeries::Temperature, 150);
             p.fill(HistorySeries::MemoryUsage, 6000);
             store(p.slot().memoryTotal, 8000);
         },
         {{150, 185, kLit},
          {403, 185, kLit},
          {300, 184, kNot | kLit},
          {300, 186, kNot | kLit},
          {139, 185, kNot | kLit},
          {300, 256, kLit},
          {300, 255, kNot | kLit},
          {700, 167, kLit},
          {700, 166, kNot | kLit}}},
        // GPU Load meter at (19, 151): 14 segments, all lit for the shown slot; tab 12 shows slot 0.
        {"shown slot 3",
         900,
         520,
         [](Painter& p) {
             store(p.slot(3).gpuLoad, 100);
             p.app->selectedGpu.store(3);
         },
         {{42, 159, kLit}}},
        {"shown slot 12",
         900,
         520,
         [](Painter& p) {
             store(p.slot(0).gpuLoad, 100);
             p.app->selectedGpu.store(12);
         },
         {{42, 159, kLit}}},
        // Temperature meter top segment at P 201 (no strip) and P 200 (a strip above it).
        {"no strip",
         1200,
         900,
         [](Painter& p) { store(p.slot().temperature, 100); },
         {{42, 515, kLit}, {42, 514, kBlack}}},
        {"strip",
         1200,
         897,
         [](Painter& p) { store(p.slot().temperature, 100); },
         {{42, 515, kLit}, {42, 514, kLit}}},
    };
    for (const Scene& s : scenes) {
        Painter p(s.w, s.h);
        s.set(p);
        p.paint();
        for (const Probe& probe : s.probes)
            EXPECT_TRUE(matches(p.at(probe.x, probe.y), probe.want))
                << s.name << " at " << probe.x << "," << probe.y << ": " << std::hex
                << p.at(probe.x, probe.y);
    }
}

TEST(PaintPlots, EmptyGraphsShowFrameAndGridOnly) {
    for (auto size : {std::pair<int, int>{900, 520}, {1200, 900}}) {
        Painter p(size.first, size.second);
        p.paint();
        PlotGeometry g = plotGeometry(p.w, p.h);
        for (PlotPanel panel : kPlotPanels) {
            PixelRect r = graphRect(g, panel);
            PixelRect lines[64];
            int n = gridLines(g, panel, 0, lines, 64);
            EXPECT_EQ(p.at(r.left, r.top), kLight);
            EXPECT_EQ(p.at(r.left + 1, r.top + 1), kDark);
            EXPECT_EQ(p.at(r.left, r.bottom - 1), kLight);
            // Row P - 1 right of column 0 keeps the image's earlier white.
            EXPECT_EQ(p.at(r.left + 5, r.bottom - 1), kWhite);
            int wrong = 0;
            for (int y = r.top + 2; y <= r.bottom - 2; ++y)
                for (int x = r.left + 2; x < r.right && x <= r.left + 415; ++x) {
                    bool onGrid = std::any_of(lines, lines + n,
                                              [&](const PixelRect& l) { return insideRect(l, x, y); });
                    wrong += p.at(x, y) != (onGrid ? kGrid : kBlack);
                }
            EXPECT_EQ(wrong, 0) << p.w << " panel " << static_cast<int>(panel);
        }
        // The white column 416 of the frame image shows only at the widest window.
        if (g.s - 18 == 417)
            EXPECT_EQ(p.at(graphRect(g, PlotPanel::GraphicsClock).left + 416, 97), kWhite);
    }
}

TEST(PaintPlots, NothingOutsideThePanelsWhateverTheReadings) {
    for (auto size : {std::pair<int, int>{900, 520}, {1200, 900}, {1000, 700}}) {
        for (int32_t v : {INT_MAX, INT_MIN + 1, -1, 0, 1}) {
            Painter p(size.first, size.second);
            GpuPanelSlot& s = p.slot();
#define SET_ALL(name, kind, conv) store(s.name, v);
            GAUGELINE_SAMPLE_FIELDS(SET_ALL)
#undef SET_ALL
            store(s.graphicsClockScale, 1000); // below the rated clock
            store(s.graphicsClockRated, 500000);
            for (int series = 0; series < kHistorySeriesCount; ++series)
                p.fill(HistorySeries(series), v == -1 ? 2147483000 : v);
            p.paint();
            PlotGeometry g = plotGeometry(p.w, p.h);
            int stray = 0;
            for (int y = 0; y < p.h - 20; ++y)
                for (int x = 0; x < p.w; ++x) {
                    bool inPanel = insideRect(readoutRect(g), x, y);
                    for (PlotPanel panel : kPlotPanels)
                        inPanel = inPanel || insideRect(meterRect(g, panel), x, y) ||
                                  insideRect(graphRect(g, panel), x, y);
                    stray += !inPanel && p.at(x, y) != kWhite;
                }
            EXPECT_EQ(stray, 0) << size.first << " value " << v;
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
    const Probe frame[] = {{mx, my, kLight},           {mx + 81, my, kLight},      {mx + 1, my + 1, kDark},
                           {mx + 81, my + 10, kWhite}, {mx + 10, my + 73, kWhite}, {mx, my + 73, kLight}};
    for (const Probe& f : frame)
        EXPECT_EQ(p.at(f.x, f.y), f.want) << f.x << "," << f.y;
    for (int i = 0; i < 14; ++i) {
        const int y = my + 74 - 27 - 3 * i;
        const bool lit = i < 7;
        for (int x : {mx + 23, mx + 41}) {
            EXPECT_EQ(p.at(x, y), lit ? kLit : kDim) << i;
            EXPECT_EQ(p.at(x + 1, y), lit ? kDim : kBlack) << i;
            EXPECT_EQ(p.at(x, y + 1), lit ? kDim : kBlack) << i;
            EXPECT_EQ(p.at(x + 1, y + 1), lit ? kLit : kDim) << i;
            EXPECT_EQ(p.at(x + 16, y), lit ? kLit : kDim) << i;
            EXPECT_EQ(p.at(x + 17, y), kBlack) << i; // between the blocks, and right of them
            EXPECT_EQ(p.at(x, y + 2), kBlack) << i;  // the row between segments
        }
    }
    // P - 32 = 42 is a multiple of 3: the top segment (13, unlit) has a strip.
    EXPECT_EQ(p.at(mx + 23, my + 7), kDim);
    EXPECT_EQ(p.at(mx + 24, my + 7), kBlack);
    EXPECT_EQ(p.at(mx + 23, my + 6), kBlack);
}

TEST(PaintText, MeterCaptionsAndReadoutSayNoSupportAtStart) {
    Painter p(900, 520);
    p.paint();
    PlotGeometry g = plotGeometry(p.w, p.h);
    const int captionRight = textFootprint(p.app->font, L"No Support", true);
    ASSERT_GT(captionRight, 20);
    for (PlotPanel panel : kPlotPanels) {
        PixelRect m = meterRect(g, panel);
        int left = 1000, right = -1;
        for (int y = m.top + g.p - 18; y < m.top + g.p - 2; ++y)
            for (int x = m.left; x < m.right; ++x)
                if (p.at(x, y) == kLit) {
                    left = std::min(left, x - m.left);
                    right = std::max(right, x - m.left);
                }
        EXPECT_GE(left, 14);
        EXPECT_LE(left, 16);
        EXPECT_EQ(right - 14, captionRight);
    }
    const int valueInk = textFootprint(p.app->font, L"No Support", false);
    ASSERT_GT(valueInk, 20);
    const int top = p.h - 162;
    ReadoutRow rows[kReadoutRowCount];
    buildReadoutRows(shownSnapshot(*p.app), rows);
    for (const ReadoutRow& row : rows) {
        const int x0 = 22 + row.valueX;
        EXPECT_EQ(p.inked(x0, top + row.y, row.valueX == 170 ? 432 : 782, top + row.y + 12, kWhite),
                  valueInk);
        EXPECT_GT(p.inked(22 + row.labelX, top + row.y, x0, top + row.y + 12, kWhite), 20) << row.y;
    }
}

TEST(PaintText, DriverModelTwoLeavesTheValueEmpty) {
    Painter p(1200, 900);
    store(p.slot().driverModelSupported, 1);
    store(p.slot().driverModel, 2);
    p.paint();
    const int top = p.h - 162;
    EXPECT_EQ(p.inked(632, top, 782, top + 12, kWhite), 0);
    EXPECT_GT(p.inked(432, top, 622, top + 12, kWhite), 20);
    store(p.slot().driverModel, 0);
    p.paint();
    EXPECT_GT(p.inked(632, top, 782, top + 12, kWhite), 20);
}
