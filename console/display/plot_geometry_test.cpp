#include "console/display/plot_geometry.h"

#include <gtest/gtest.h>

#include <vector>

static bool operator==(const PixelRect& a, const PixelRect& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

namespace {

struct SizeCase {
    int w, h, p, s, bars;
};
// Smallest, a size between, largest.
const SizeCase kSizes[] = {{900, 520, 74, 285, 132}, {1000, 700, 134, 335, 157}, {1200, 900, 201, 435, 207}};

bool inside(const PixelRect& inner, const PixelRect& outer) {
    return inner.left >= outer.left && inner.top >= outer.top && inner.right <= outer.right &&
           inner.bottom <= outer.bottom && inner.left < inner.right && inner.top < inner.bottom;
}

std::vector<int32_t> series(std::initializer_list<int32_t> head, int32_t rest = kEmptyEntry) {
    std::vector<int32_t> v(kHistoryEntries, rest);
    std::copy(head.begin(), head.end(), v.begin());
    return v;
}

} // namespace

TEST(PlotGeometry, PanelsAndTheAreasTheTickRepaints) {
    for (const auto& c : kSizes) {
        PlotGeometry g = plotGeometry(c.w, c.h);
        EXPECT_EQ(g.p, c.p);
        EXPECT_EQ(g.s, c.s);
        PixelRect repainted[kInvalidationRectCount];
        invalidationRects(g, repainted);
        for (int i = 0; i < kPlotPanelCount; ++i) {
            const int t = (i / 2) * (c.p + 30) + 47;
            const bool left = i % 2 == 0;
            const PixelRect meter = meterRect(g, kPlotPanels[i]);
            const PixelRect graph = graphRect(g, kPlotPanels[i]);
            EXPECT_EQ(meter, (PixelRect{left ? 19 : c.s + 189, t, (left ? 19 : c.s + 189) + 82, t + c.p}))
                << i;
            EXPECT_EQ(graph,
                      (PixelRect{left ? 139 : c.s + 309, t, (left ? 139 : c.s + 309) + c.s - 18, t + c.p}))
                << i;
            EXPECT_TRUE(inside(meter, repainted[i])) << i;
            EXPECT_TRUE(inside(graph, repainted[6 + i])) << i;
        }
        EXPECT_EQ(readoutRect(g), (PixelRect{22, c.h - 162, 782, c.h - 52}));
        EXPECT_EQ(repainted[12], (PixelRect{12, c.h - 162, 772, c.h - 34}));
    }
}

TEST(PlotGeometry, GridLinesMoveWithPhaseAndStayInTheGraph) {
    PlotGeometry g = plotGeometry(900, 520);
    PixelRect lines[64];
    // S = 285: x = 404 - 12k - phase, kept when 140 < x < 404; then six rows 49 + 12k, 264 long.
    struct Case {
        PlotPanel panel;
        int phase, count;
        PixelRect first, firstRow;
    };
    const Case cases[] = {
        {PlotPanel::GraphicsClock, 0, 21 + 6, {392, 49, 393, 120}, {140, 49, 404, 50}},
        {PlotPanel::GraphicsClock, 2, 22 + 6, {402, 49, 403, 120}, {140, 49, 404, 50}},
        {PlotPanel::GpuLoad, 4, 22 + 6, {400, 153, 401, 224}, {141, 151, 405, 152}},
        {PlotPanel::MemoryUsage, 4, 22 + 6, {856, 153, 857, 224}, {596, 151, 860, 152}},
    };
    for (const Case& c : cases) {
        int n = gridLines(g, c.panel, c.phase, lines, 64);
        EXPECT_EQ(n, c.count) << c.phase;
        EXPECT_EQ(lines[0], c.first) << c.phase;
        EXPECT_EQ(lines[n - 6], c.firstRow) << c.phase;
    }
    for (const auto& size : kSizes) {
        PlotGeometry gs = plotGeometry(size.w, size.h);
        for (PlotPanel panel : kPlotPanels)
            for (int phase = 0; phase <= 10; phase += 2) {
                int n = gridLines(gs, panel, phase, lines, 64);
                for (int i = 0; i < n; ++i)
                    EXPECT_TRUE(inside(lines[i], graphRect(gs, panel))) << size.w << " " << phase << " " << i;
            }
    }
}

TEST(PlotGeometry, ClockBarHeights) {
    struct Case {
        PlotPanel panel;
        int32_t v, scale, rated;
        int p;
        bool drawn;
        int lower, upper;
    };
    const Case cases[] = {
        // P 74: Q 71, B 120; the point row y = max(120 - trunc(v / M * 74), 49) adds the extension.
        {PlotPanel::GraphicsClock, 500000, 0, 1000000, 74, true, 35 + 2, 0},
        {PlotPanel::GraphicsClock, 1000000, 0, 1000000, 74, true, 71, 0},
        {PlotPanel::GraphicsClock, 1500000, 0, 1000000, 74, true, 71, 0},
        {PlotPanel::GraphicsClock, 0, 0, 1000000, 74, true, 0, 0},
        {PlotPanel::GraphicsClock, 1800000, 2000000, 1500000, 74, true, 53 + 2, 10},
        {PlotPanel::GraphicsClock, 2500000, 2000000, 1500000, 74, true, 53, 18},
        {PlotPanel::GraphicsClock, 1200000, 1000000, 1500000, 74, true, 71, 0},
        {PlotPanel::GraphicsClock, 500000, 1000000, 1500000, 74, true, 35 + 2, 0},
        {PlotPanel::GraphicsClock, 500000, 0, 0, 74, false, 0, 0},
        {PlotPanel::GraphicsClock, 500000, 0, -5, 74, false, 0, 0},
        {PlotPanel::GraphicsClock, -300, 0, 1000000, 74, false, 0, 0},
        {PlotPanel::GraphicsClock, 2000000, 2000000, 1500000, 201, true, 148, 50},
        {PlotPanel::MemoryClock, 400000, 0, 800000, 74, true, 35 + 1, 0},
        {PlotPanel::MemoryClock, 800000, 0, 800000, 74, true, 71, 0},
        {PlotPanel::MemoryClock, 900000, 0, 800000, 74, true, 71, 0},
        // The scale only places the point row; the height follows the rated clock.
        {PlotPanel::MemoryClock, 400000, 1600000, 800000, 74, true, 35, 0},
        // A rated clock of 0 with a scale: any reading above it is full height.
        {PlotPanel::MemoryClock, 400000, 1600000, 0, 74, true, 71, 0},
        {PlotPanel::MemoryClock, 400000, -1, 0, 74, false, 0, 0},
        {PlotPanel::MemoryClock, 400000, 0, 0, 74, false, 0, 0},
        {PlotPanel::MemoryClock, 100, 0, 800000, 201, true, 0, 0},
        {PlotPanel::MemoryClock, 8000, 0, 800000, 201, true, 1 + 1, 0},
    };
    for (const auto& c : cases) {
        BarHeights h = c.panel == PlotPanel::GraphicsClock
                           ? graphicsClockBarHeights(c.v, c.scale, c.rated, c.p)
                           : memoryClockBarHeights(c.v, c.scale, c.rated, c.p);
        EXPECT_EQ(h.drawn, c.drawn) << c.v << " " << c.scale << " " << c.rated;
        EXPECT_EQ(h.lower, c.lower) << c.v << " " << c.scale << " " << c.rated;
        EXPECT_EQ(h.upper, c.upper) << c.v << " " << c.scale << " " << c.rated;
    }
}

TEST(PlotGeometry, BarsFollowTheWidthAndSkipEmptyEntries) {
    std::vector<int32_t> full(kHistoryEntries, 999999);
    BarPiece pieces[2 * kHistoryEntries];
    for (const SizeCase& c : kSizes)
        for (PlotPanel panel : {PlotPanel::GraphicsClock, PlotPanel::MemoryClock})
            EXPECT_EQ(clockBars(plotGeometry(c.w, c.h), panel, full.data(), 0, 1000000, pieces,
                                2 * kHistoryEntries),
                      c.bars)
                << c.w;
    PlotGeometry g = plotGeometry(900, 520);
    auto values = series({1800000, kEmptyEntry, 2500000});
    ASSERT_EQ(clockBars(g, PlotPanel::GraphicsClock, values.data(), 2000000, 1500000, pieces, 8), 4);
    EXPECT_EQ(pieces[0].colour, BarColour::Green);
    EXPECT_EQ(pieces[1].colour, BarColour::Orange);
    EXPECT_EQ(pieces[2].rect, (PixelRect{399, 120 - 53, 401, 120}));
    EXPECT_EQ(pieces[3].rect, (PixelRect{399, 120 - 71, 401, 120 - 53}));
    ASSERT_EQ(clockBars(g, PlotPanel::MemoryClock, values.data(), 0, 1500000, pieces, 8), 2);
    EXPECT_EQ(pieces[0].colour, BarColour::Blue);
}

TEST(PlotGeometry, LinePointY) {
    PlotGeometry g = plotGeometry(900, 520); // P 74
    struct Case {
        PlotPanel panel;
        int32_t v;
        double maximum;
        int y; // 0: nothing placed
    };
    const Case cases[] = {
        // GPU Load: T 151, zero line 222; Temperature: T 255.
        {PlotPanel::GpuLoad, 50, 100, 222 - 37},
        {PlotPanel::GpuLoad, 0, 100, 222},
        {PlotPanel::GpuLoad, 100, 100, 152},
        {PlotPanel::GpuLoad, 150, 100, 152},
        {PlotPanel::GpuLoad, -20, 100, 222},
        {PlotPanel::Temperature, 100, 100, 256},
        {PlotPanel::Temperature, 45, 100, 326 - 33},
        // Memory Usage in double: 3/4 of 74 = 55.5.
        {PlotPanel::MemoryUsage, 6000, 8000, 222 - 55},
        {PlotPanel::MemoryUsage, 6000, 0, 0},
        {PlotPanel::PowerDraw, 150000, 300000, 326 - 37},
        {PlotPanel::PowerDraw, 150000, -4, 0},
    };
    for (const auto& c : cases) {
        int y = 0;
        EXPECT_EQ(linePointY(g, c.panel, c.v, c.maximum, &y), c.y != 0) << c.v;
        EXPECT_EQ(y, c.y) << c.v;
    }
}

TEST(PlotGeometry, LinePointsFollowTheWidthAndBridgeEmptyEntries) {
    std::vector<int32_t> full(kHistoryEntries, 40);
    PixelPoint pts[kHistoryEntries];
    for (const SizeCase& c : kSizes)
        EXPECT_EQ(
            linePoints(plotGeometry(c.w, c.h), PlotPanel::PowerDraw, full.data(), 100, pts, kHistoryEntries),
            c.bars + 1)
            << c.w;
    PlotGeometry g = plotGeometry(900, 520);
    auto gaps = series({10, kEmptyEntry, kEmptyEntry, 20});
    ASSERT_EQ(linePoints(g, PlotPanel::GpuLoad, gaps.data(), 100, pts, kHistoryEntries), 2);
    EXPECT_EQ(pts[0].x, 404);
    EXPECT_EQ(pts[1].x, 398);
    // The clock panels are bars, not lines.
    EXPECT_EQ(linePoints(g, PlotPanel::GraphicsClock, gaps.data(), 100, pts, kHistoryEntries), 0);
}
