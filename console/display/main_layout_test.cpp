#include "console/display/main_layout.h"
#include "console/display/readout_panel.h"

#include <gtest/gtest.h>

#include <vector>

TEST(MainLayout, ControlsAtTheSmallestLargestAndABetweenSize) {
    // h3 = 100, S = 285.
    const int smallest[kLaidOutControlCount][4] = {
        {10, 30, 100, 100},  {130, 30, 285, 100},  {465, 30, 100, 100},  {585, 30, 285, 100},
        {10, 135, 100, 100}, {130, 135, 285, 100}, {465, 135, 100, 100}, {585, 135, 285, 100},
        {10, 240, 100, 100}, {130, 240, 285, 100}, {465, 240, 100, 100}, {585, 240, 285, 100},
        {10, 345, 760, 124}, {780, 352, 80, 20},   {780, 382, 80, 30}};
    // h3 = 226, S = 435.
    const int largest[kLaidOutControlCount][4] = {
        {10, 30, 100, 226},  {130, 30, 435, 226},  {615, 30, 100, 226},  {735, 30, 435, 226},
        {10, 261, 100, 226}, {130, 261, 435, 226}, {615, 261, 100, 226}, {735, 261, 435, 226},
        {10, 492, 100, 226}, {130, 492, 435, 226}, {615, 492, 100, 226}, {735, 492, 435, 226},
        {10, 725, 760, 124}, {780, 732, 80, 20},   {780, 762, 80, 30}};
    // 1001 x 701: h3 = 160, S = 335.
    const int between[kLaidOutControlCount][4] = {
        {10, 30, 100, 160},  {130, 30, 335, 160},  {515, 30, 100, 160},  {635, 30, 335, 160},
        {10, 195, 100, 160}, {130, 195, 335, 160}, {515, 195, 100, 160}, {635, 195, 335, 160},
        {10, 360, 100, 160}, {130, 360, 335, 160}, {515, 360, 100, 160}, {635, 360, 335, 160},
        {10, 526, 760, 124}, {780, 533, 80, 20},   {780, 563, 80, 30}};
    const struct {
        int w, h;
        const int (*at)[4];
    } cases[] = {{900, 520, smallest}, {1200, 900, largest}, {1001, 701, between}};
    for (const auto& c : cases) {
        ControlPlacement out[kLaidOutControlCount];
        layoutControls(c.w, c.h, out);
        for (int i = 0; i < kLaidOutControlCount; ++i) {
            const ControlPlacement& o = out[i];
            EXPECT_EQ((std::vector<int>{o.x, o.y, o.w, o.h}), std::vector<int>(c.at[i], c.at[i] + 4))
                << c.w << "x" << c.h << " control " << i + 1;
        }
    }
}

// The tick repaints the meter, graph and readout areas without their frames
// (the frames are not asked to paint again): that is only right while each
// area lies inside one frame's interior, clear of its border and caption, and
// clear of every other control, and the readout's area holds every line of its
// text (12 pixels high, from the image's top). Checked over the whole range of
// window sizes.
TEST(MainLayout, RepaintAreasLieInsideTheirFramesClearOfBordersAndCaptions) {
    PanelSlotSnapshot empty{};
    ReadoutRow rows[kReadoutRowCount];
    buildReadoutRows(empty, rows);
    for (int w = kInitialWidth; w <= kMaxTrackWidth; w += 15) {
        for (int h = kInitialHeight; h <= kMaxTrackHeight; h += 19) {
            ControlPlacement at[kLaidOutControlCount];
            layoutControls(w, h, at);
            PixelRect areas[kInvalidationRectCount];
            invalidationRects(plotGeometry(w, h), areas);
            // The graph areas keep 3 pixels from the border and 15 from the top,
            // the readout's 2 and 13.
            for (int i = 0; i <= kGraphAreaCount; ++i) {
                const bool readout = i == kGraphAreaCount;
                const PixelRect a = readout ? readoutRepaintArea(w, h) : areas[i];
                const int side = readout ? 2 : 3, top = readout ? 13 : 15;
                int inside = 0;
                for (const ControlPlacement& c : at) {
                    bool apart =
                        a.right <= c.x || a.left >= c.x + c.w || a.bottom <= c.y || a.top >= c.y + c.h;
                    bool interior = a.left >= c.x + side && a.right <= c.x + c.w - side &&
                                    a.top >= c.y + top && a.bottom <= c.y + c.h - side;
                    EXPECT_TRUE(apart || interior) << w << "x" << h << " area " << i;
                    inside += interior;
                }
                EXPECT_EQ(1, inside) << w << "x" << h << " area " << i;
            }
            PixelRect a = readoutRepaintArea(w, h), image = readoutRect(plotGeometry(w, h));
            for (const ReadoutRow& row : rows) {
                EXPECT_GE(image.left + row.labelX, a.left) << w << "x" << h;
                EXPECT_GE(image.top + row.y, a.top) << w << "x" << h;
                EXPECT_LE(image.top + row.y + 12, a.bottom) << w << "x" << h;
            }
        }
    }
}
