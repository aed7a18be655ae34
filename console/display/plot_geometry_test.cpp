#include "console/display/plot_geometry.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct SizeCase {
    int w, h;
    int p, s;
};

// Smallest, a size between, largest.
const SizeCase kSizes[] = {{900, 520, 74, 285}, {1000, 700, 134, 335}, {1200, 900, 201, 435}};

bool inside(const PixelRect& inner, const PixelRect& outer) {
    return inner.left >= outer.left && inner.top >= outer.top && inner.right <= outer.right &&
           inner.bottom <= outer.bottom && inner.left < inner.right && inner.top < inner.bottom;
}

std::vector<int32_t> series(std::initializer_list<int32_t> head, int32_t rest = kEmptyEntry) {
    std::vector<int32_t> v(kHistoryEntries, rest);
    int i = 0;
    for (int32_t x : head)
        v[i++] = x;
    return v;
}

} // namespace

TEST(PlotGeometry, PanelHeightAndSpan) {
    for (const auto& c : kSizes) {
        PlotGeometry g = plotGeometry(c.w, c.h);
        EXPECT_EQ(g.p, c.p) << c.w << "x" << c.h;
        EXPECT_EQ(g.s, c.s) << c.w << "x" << c.h;
    }
}

TEST(PlotGeometry, MeterAndGraphPlacement) {
    for (const auto& c : kSizes) {
        SCOPED_TRACE(c.w);
        PlotGeometry g = plotGeometry(c.w, c.h);
        const int tops[3] = {47, c.p + 77, 2 * c.p + 107};
        for (int panel = 0; panel < kPlotPanelCount; ++panel) {
            int t = tops[panel / 2];
            bool left = panel % 2 == 0;
            PixelRect m = meterRect(g, panel);
            EXPECT_EQ(m.left, left ? 19 : c.s + 189);
            EXPECT_EQ(m.top, t);
            EXPECT_EQ(m.right - m.left, 82);
            EXPECT_EQ(m.bottom - m.top, c.p);
            PixelRect gr = graphRect(g, panel);
            EXPECT_EQ(gr.left, left ? 139 : c.s + 309);
            EXPECT_EQ(gr.top, t);
            EXPECT_EQ(gr.right - gr.left, c.s - 18);
            EXPECT_EQ(gr.bottom - gr.top, c.p);
        }
        PixelRect r = readoutRect(g);
        EXPECT_EQ(r.left, 22);
        EXPECT_EQ(r.top, c.h - 162);
        EXPECT_EQ(r.right, 782);
        EXPECT_EQ(r.bottom, c.h - 52);
    }
}

TEST(PlotGeometry, InvalidationRectsAtSmallestWindow) {
    PixelRect r[kInvalidationRectCount];
    invalidationRects(plotGeometry(900, 520), r);
    // W/2 = 450, P = 74.
    const PixelRect expected[kInvalidationRectCount] = {
        {19, 47, 101, 121},   {474, 47, 556, 121},  {19, 151, 101, 225},  {474, 151, 556, 225},
        {19, 255, 101, 329},  {474, 255, 556, 329}, {139, 47, 406, 121},  {594, 47, 861, 121},
        {139, 151, 406, 225}, {594, 151, 861, 225}, {139, 255, 406, 329}, {594, 255, 861, 329},
        {12, 358, 772, 486}};
    for (int i = 0; i < kInvalidationRectCount; ++i) {
        EXPECT_EQ(r[i].left, expected[i].left) << i;
        EXPECT_EQ(r[i].top, expected[i].top) << i;
        EXPECT_EQ(r[i].right, expected[i].right) << i;
        EXPECT_EQ(r[i].bottom, expected[i].bottom) << i;
    }
}

TEST(PlotGeometry, InvalidationCoversMetersAndGraphs) {
    for (const auto& c : kSizes) {
        PlotGeometry g = plotGeometry(c.w, c.h);
        PixelRect r[kInvalidationRectCount];
        invalidationRects(g, r);
        for (int panel = 0; panel < kPlotPanelCount; ++panel) {
            EXPECT_TRUE(inside(meterRect(g, panel), r[panel])) << panel;
            EXPECT_TRUE(inside(graphRect(g, panel), r[6 + panel])) << panel;
        }
    }
}

TEST(PlotGeometry, GridLinesMoveWithPhaseAndStayInTheGraph) {
    PlotGeometry g = plotGeometry(900, 520);
    PixelRect lines[64];
    // S = 285: candidates x = 404 - 12k - phase, k 0..21, kept when 140 < x < 404.
    int n0 = gridLines(g, graphicsClockPanel, 0, lines, 64);
    std::vector<int> xs0;
    for (int i = 0; i < n0; ++i)
        if (lines[i].right - lines[i].left == 1 && lines[i].bottom - lines[i].top > 1)
            xs0.push_back(lines[i].left);
    ASSERT_EQ(xs0.size(), 21u);
    EXPECT_EQ(xs0.front(), 392);
    EXPECT_EQ(xs0.back(), 152);
    EXPECT_EQ(lines[0].top, 49);
    EXPECT_EQ(lines[0].bottom - lines[0].top, 71);
    // Six horizontal lines at 49 + 12k, 264 long, from x 140.
    EXPECT_EQ(n0 - 21, 6);
    for (int k = 0; k < 6; ++k) {
        EXPECT_EQ(lines[21 + k].left, 140);
        EXPECT_EQ(lines[21 + k].top, 49 + 12 * k);
        EXPECT_EQ(lines[21 + k].right - lines[21 + k].left, 264);
    }

    int n2 = gridLines(g, graphicsClockPanel, 2, lines, 64);
    EXPECT_EQ(n2, 22 + 6);
    EXPECT_EQ(lines[0].left, 402);
    EXPECT_EQ(lines[21].left, 150);

    // Middle-left and right graphs: lines start at T and at x 141 / S + 311.
    int nm = gridLines(g, gpuLoadPanel, 4, lines, 64);
    EXPECT_EQ(lines[nm - 6].left, 141);
    EXPECT_EQ(lines[nm - 6].top, 151);
    int nr = gridLines(g, memoryUsagePanel, 4, lines, 64);
    EXPECT_EQ(lines[nr - 6].left, 596);
    EXPECT_EQ(lines[0].left, 2 * 285 + 290 - 4);

    for (const auto& c : kSizes) {
        PlotGeometry gc = plotGeometry(c.w, c.h);
        for (int panel = 0; panel < kPlotPanelCount; ++panel)
            for (int phase = 0; phase <= 10; phase += 2) {
                int n = gridLines(gc, panel, phase, lines, 64);
                EXPECT_GT(n, 0);
                for (int i = 0; i < n; ++i)
                    EXPECT_TRUE(inside(lines[i], graphRect(gc, panel))) << panel << " " << phase << " " << i;
            }
    }
}

TEST(PlotGeometry, GraphicsClockBarHeights) {
    struct Case {
        const char* name;
        int32_t v, scale, rated;
        int p;
        bool drawn;
        int lower, upper;
    };
    const Case cases[] = {
        // P 74: Q 71, B 120. y = max(120 - trunc(v / M * 74), 49).
        {"half of rated, no scale", 500000, 0, 1000000, 74, true, 35 + 2, 0},
        {"at rated", 1000000, 0, 1000000, 74, true, 71, 0},
        {"above rated", 1500000, 0, 1000000, 74, true, 71, 0},
        {"zero reading", 0, 0, 1000000, 74, true, 0, 0},
        {"green and orange", 1800000, 2000000, 1500000, 74, true, 53 + 2, 10},
        {"above scale maximum", 2500000, 2000000, 1500000, 74, true, 53, 18},
        {"scale below rated", 1200000, 1000000, 1500000, 74, true, 71, 0},
        {"scale below rated, small", 500000, 1000000, 1500000, 74, true, 35 + 2, 0},
        {"zero scale and rated", 500000, 0, 0, 74, false, 0, 0},
        {"negative rated", 500000, 0, -5, 74, false, 0, 0},
        {"negative reading", -300, 0, 1000000, 74, false, 0, 0},
        {"tallest window at scale", 2000000, 2000000, 1500000, 201, true, 148, 50},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        BarHeights h = graphicsClockBarHeights(c.v, c.scale, c.rated, c.p);
        EXPECT_EQ(h.drawn, c.drawn);
        EXPECT_EQ(h.lower, c.lower);
        EXPECT_EQ(h.upper, c.upper);
        EXPECT_LE(h.lower + h.upper, c.p - 1);
        EXPECT_GE(h.upper, 0);
    }
}

TEST(PlotGeometry, MemoryClockBarHeights) {
    struct Case {
        int32_t v, scale, rated;
        int p;
        bool drawn;
        int lower;
    };
    const Case cases[] = {
        {400000, 0, 800000, 74, true, 35 + 1},
        {800000, 0, 800000, 74, true, 71},
        {900000, 0, 800000, 74, true, 71},
        // The scale only places the point row; the height follows the rated clock.
        {400000, 1600000, 800000, 74, true, 35},
        // A rated clock of 0 with a scale: any reading above it is full height.
        {400000, 1600000, 0, 74, true, 71},
        {400000, -1, 0, 74, false, 0},
        {400000, 0, 0, 74, false, 0},
        {100, 0, 800000, 201, true, 0},
        {8000, 0, 800000, 201, true, 1 + 1},
    };
    for (const auto& c : cases) {
        BarHeights h = memoryClockBarHeights(c.v, c.scale, c.rated, c.p);
        EXPECT_EQ(h.drawn, c.drawn) << c.v << " " << c.rated;
        EXPECT_EQ(h.lower, c.lower) << c.v << " " << c.rated;
        EXPECT_EQ(h.upper, 0);
    }
}

TEST(PlotGeometry, BarCountFollowsTheWidth) {
    struct Case {
        int w, h, bars;
    };
    for (const Case& c : {Case{900, 520, 132}, Case{1200, 900, 207}, Case{1000, 700, 157}}) {
        PlotGeometry g = plotGeometry(c.w, c.h);
        std::vector<int32_t> full(kHistoryEntries, 500000);
        BarPiece pieces[2 * kHistoryEntries];
        for (int panel : {graphicsClockPanel, memoryClockPanel}) {
            int n = clockBars(g, panel, full.data(), 0, 1000000, pieces, 2 * kHistoryEntries);
            EXPECT_EQ(n, c.bars) << c.w << " " << panel;
            for (int i = 0; i < n; ++i) {
                EXPECT_TRUE(inside(pieces[i].rect, graphRect(g, panel))) << i;
                EXPECT_EQ(pieces[i].rect.right - pieces[i].rect.left, 2);
                EXPECT_EQ(pieces[i].rect.bottom, g.p + 46);
                EXPECT_EQ(pieces[i].colour, panel == graphicsClockPanel ? BarColour::green : BarColour::blue);
            }
            EXPECT_EQ(pieces[0].rect.left, barX(g, panel, 0));
        }
    }
}

TEST(PlotGeometry, BarsSplitGreenAndOrangeAndSkipEmptyEntries) {
    PlotGeometry g = plotGeometry(900, 520);
    auto values = series({1800000, kEmptyEntry, 2500000});
    BarPiece pieces[8];
    int n = clockBars(g, graphicsClockPanel, values.data(), 2000000, 1500000, pieces, 8);
    ASSERT_EQ(n, 4);
    EXPECT_EQ(pieces[0].colour, BarColour::green);
    EXPECT_EQ(pieces[0].rect.left, 403);
    EXPECT_EQ(pieces[0].rect.top, 120 - 55);
    EXPECT_EQ(pieces[1].colour, BarColour::orange);
    EXPECT_EQ(pieces[1].rect.top, 120 - 65);
    EXPECT_EQ(pieces[1].rect.bottom, 120 - 55);
    EXPECT_EQ(pieces[2].rect.left, 399);
    EXPECT_EQ(pieces[3].rect.top, 120 - 71);
}

TEST(PlotGeometry, BarsStayInsideWhateverTheReadings) {
    const int32_t readings[] = {0, 1, 999999, 2147483647, -999, -2147483647 - 1};
    const int32_t scales[] = {0, 1, 1000, 1000000, 2147483647, -1};
    for (const auto& c : kSizes) {
        PlotGeometry g = plotGeometry(c.w, c.h);
        for (int32_t v : readings)
            for (int32_t scale : scales)
                for (int32_t rated : scales) {
                    std::vector<int32_t> values(kHistoryEntries, v);
                    BarPiece pieces[2 * kHistoryEntries];
                    for (int panel : {graphicsClockPanel, memoryClockPanel}) {
                        int n = clockBars(g, panel, values.data(), scale, rated, pieces, 2 * kHistoryEntries);
                        for (int i = 0; i < n; ++i)
                            ASSERT_TRUE(inside(pieces[i].rect, graphRect(g, panel)))
                                << v << " " << scale << " " << rated;
                    }
                }
    }
}

TEST(PlotGeometry, LinePointY) {
    PlotGeometry g = plotGeometry(900, 520); // P 74
    struct Case {
        int panel;
        int32_t v;
        double maximum;
        bool placed;
        int y;
    };
    const Case cases[] = {
        // GPU Load: T 151, zero line 222.
        {gpuLoadPanel, 50, 100, true, 222 - 37},
        {gpuLoadPanel, 0, 100, true, 222},
        {gpuLoadPanel, 100, 100, true, 152},
        {gpuLoadPanel, 150, 100, true, 152},
        {gpuLoadPanel, -20, 100, true, 222},
        // Temperature: T 255.
        {temperaturePanel, 100, 100, true, 256},
        {temperaturePanel, 45, 100, true, 326 - 33},
        // Memory Usage in double: 3/4 of 74 = 55.5.
        {memoryUsagePanel, 6000, 8000, true, 222 - 55},
        {memoryUsagePanel, 6000, 0, false, 0},
        {powerDrawPanel, 150000, 300000, true, 326 - 37},
        {powerDrawPanel, 150000, 0, false, 0},
        {powerDrawPanel, 150000, -4, false, 0},
    };
    for (const auto& c : cases) {
        int y = 0;
        EXPECT_EQ(linePointY(g, c.panel, c.v, c.maximum, &y), c.placed) << c.panel << " " << c.v;
        if (c.placed) {
            EXPECT_EQ(y, c.y) << c.panel << " " << c.v;
        }
    }
}

TEST(PlotGeometry, LinePointCountsAndBridges) {
    struct Case {
        int w, h, points;
    };
    for (const Case& c : {Case{900, 520, 133}, Case{1200, 900, 208}}) {
        PlotGeometry g = plotGeometry(c.w, c.h);
        std::vector<int32_t> full(kHistoryEntries, 40);
        PixelPoint pts[kHistoryEntries];
        for (int panel = gpuLoadPanel; panel < kPlotPanelCount; ++panel) {
            int n = linePoints(g, panel, full.data(), 100, pts, kHistoryEntries);
            EXPECT_EQ(n, c.points) << panel;
            EXPECT_EQ(pts[0].x, lineX(g, panel, 0));
            for (int i = 0; i < n; ++i) {
                PixelRect dot{pts[i].x, pts[i].y, pts[i].x + 1, pts[i].y + 1};
                EXPECT_TRUE(inside(dot, graphRect(g, panel)));
            }
        }
    }
    PlotGeometry g = plotGeometry(900, 520);
    auto gaps = series({10, kEmptyEntry, kEmptyEntry, 20});
    PixelPoint pts[kHistoryEntries];
    ASSERT_EQ(linePoints(g, gpuLoadPanel, gaps.data(), 100, pts, kHistoryEntries), 2);
    EXPECT_EQ(pts[0].x, 404);
    EXPECT_EQ(pts[1].x, 398);
    auto empty = series({});
    EXPECT_EQ(linePoints(g, gpuLoadPanel, empty.data(), 100, pts, kHistoryEntries), 0);
    // The clock panels are bars, not lines.
    EXPECT_EQ(linePoints(g, graphicsClockPanel, gaps.data(), 100, pts, kHistoryEntries), 0);
}

TEST(PlotGeometry, LineMaximum) {
    EXPECT_EQ(lineMaximum(gpuLoadPanel, 5, 6), 100.0);
    EXPECT_EQ(lineMaximum(temperaturePanel, 5, 6), 100.0);
    EXPECT_EQ(lineMaximum(memoryUsagePanel, 4294967295u, 6), 4294967295.0);
    EXPECT_EQ(lineMaximum(powerDrawPanel, 5, 250000), 250000.0);
}
