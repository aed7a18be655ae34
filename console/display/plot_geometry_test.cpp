#include "console/display/plot_geometry.h"

#include <gtest/gtest.h>

#include <vector>

static bool operator==(const PixelRect& a, const PixelRect& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

namespace {

struct SizeCase {
    int w, h, bars;
};
// Smallest, a size between, largest.
const SizeCase kSizes[] = {{900, 520, 132}, {1000, 700, 157}, {1200, 900, 207}};

} // namespace

TEST(PlotGeometry, ClockBarHeights) {
    struct Case {
        bool memory;
        int32_t v, scale, rated;
        int p;
        bool drawn;
        int lower, upper;
    };
    const Case cases[] = {
        // P 74: Q 71, B 120; the point row y = max(120 - trunc(v / M * 74), 49) adds the extension.
        {false, 500000, 0, 1000000, 74, true, 35 + 2, 0},
        {false, 2500000, 2000000, 1500000, 74, true, 53, 18},
        {false, 1200000, 1000000, 1500000, 74, true, 71, 0},
        {false, 500000, 0, 0, 74, false, 0, 0},
        // No rated clock: plain green on the scale, none of it orange.
        {false, 1000000, 2000000, 0, 74, true, 35 + 2, 0},
        {false, 2500000, 2000000, 0, 74, true, 71, 0},
        {false, 2000000, 2000000, 1500000, 201, true, 148, 50},
        {true, 900000, 0, 800000, 74, true, 71, 0},
        // The scale only places the point row; the height follows the rated clock.
        {true, 400000, 1600000, 800000, 74, true, 35, 0},
        // No rated clock: the height follows the scale.
        {true, 400000, 1600000, 0, 74, true, 17 + 1, 0},
        {true, 400000, -1, 0, 74, false, 0, 0},
        {true, 400000, 0, 0, 74, false, 0, 0},
        {true, 8000, 0, 800000, 201, true, 1 + 1, 0},
    };
    for (const auto& c : cases) {
        BarHeights h = c.memory ? memoryClockBarHeights(c.v, c.scale, c.rated, c.p)
                                : graphicsClockBarHeights(c.v, c.scale, c.rated, c.p);
        EXPECT_EQ((std::vector<int>{h.drawn, h.lower, h.upper}),
                  (std::vector<int>{c.drawn, c.lower, c.upper}))
            << c.v << " " << c.scale << " " << c.rated;
    }
}

TEST(PlotGeometry, BarsAndLinePointsFollowTheWidthAndSkipEmptyEntries) {
    std::vector<int32_t> full(kHistoryEntries, 999999);
    BarPiece pieces[2 * kHistoryEntries];
    PixelPoint pts[kHistoryEntries];
    for (const SizeCase& c : kSizes) {
        const PlotGeometry g = plotGeometry(c.w, c.h);
        for (PlotPanel panel : {PlotPanel::GraphicsClock, PlotPanel::MemoryClock})
            EXPECT_EQ(clockBars(g, panel, full.data(), 0, 1000000, pieces, 2 * kHistoryEntries), c.bars)
                << c.w;
        EXPECT_EQ(linePoints(g, PlotPanel::PowerDraw, full.data(), 100, pts, kHistoryEntries), c.bars + 1);
    }
    PlotGeometry g = plotGeometry(900, 520);
    std::vector<int32_t> values(kHistoryEntries, kEmptyEntry);
    values[0] = 1800000;
    values[2] = 2500000;
    ASSERT_EQ(clockBars(g, PlotPanel::GraphicsClock, values.data(), 2000000, 1500000, pieces, 8), 4);
    EXPECT_EQ(pieces[3].rect, (PixelRect{399, 120 - 71, 401, 120 - 53}));
    ASSERT_EQ(clockBars(g, PlotPanel::MemoryClock, values.data(), 0, 1500000, pieces, 8), 2);
    EXPECT_EQ(pieces[0].colour, BarColour::Blue);
    // Line points bridge empty entries; the clock panels are bars, not lines.
    values = std::vector<int32_t>(kHistoryEntries, kEmptyEntry);
    values[0] = 10;
    values[3] = 20;
    ASSERT_EQ(linePoints(g, PlotPanel::GpuLoad, values.data(), 100, pts, kHistoryEntries), 2);
    EXPECT_EQ(pts[1].x, 398);
    EXPECT_EQ(linePoints(g, PlotPanel::GraphicsClock, values.data(), 100, pts, kHistoryEntries), 0);
}
