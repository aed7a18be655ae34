#include "console/display/main_layout.h"

#include <gtest/gtest.h>

#include <climits>

namespace {

struct Expect {
    int x, y, w, h;
};

void checkLayout(int w, int h, const Expect (&expected)[kLaidOutControlCount]) {
    ControlPlacement out[kLaidOutControlCount];
    layoutControls(w, h, out);
    for (int i = 0; i < kLaidOutControlCount; ++i) {
        EXPECT_EQ(out[i].x, expected[i].x) << w << "x" << h << " control " << i + 1;
        EXPECT_EQ(out[i].y, expected[i].y) << w << "x" << h << " control " << i + 1;
        EXPECT_EQ(out[i].w, expected[i].w) << w << "x" << h << " control " << i + 1;
        EXPECT_EQ(out[i].h, expected[i].h) << w << "x" << h << " control " << i + 1;
    }
}

} // namespace

TEST(MainLayout, SmallestWindow) {
    // h3 = 100, S = 285.
    const Expect e[kLaidOutControlCount] = {{10, 30, 100, 100},   {130, 30, 285, 100},  {465, 30, 100, 100},
                                            {585, 30, 285, 100},  {10, 135, 100, 100},  {130, 135, 285, 100},
                                            {465, 135, 100, 100}, {585, 135, 285, 100}, {10, 240, 100, 100},
                                            {130, 240, 285, 100}, {465, 240, 100, 100}, {585, 240, 285, 100},
                                            {10, 345, 760, 124},  {780, 352, 80, 20},   {780, 382, 80, 30}};
    checkLayout(900, 520, e);
}

TEST(MainLayout, LargestWindow) {
    // h3 = 226, S = 435.
    const Expect e[kLaidOutControlCount] = {{10, 30, 100, 226},   {130, 30, 435, 226},  {615, 30, 100, 226},
                                            {735, 30, 435, 226},  {10, 261, 100, 226},  {130, 261, 435, 226},
                                            {615, 261, 100, 226}, {735, 261, 435, 226}, {10, 492, 100, 226},
                                            {130, 492, 435, 226}, {615, 492, 100, 226}, {735, 492, 435, 226},
                                            {10, 725, 760, 124},  {780, 732, 80, 20},   {780, 762, 80, 30}};
    checkLayout(1200, 900, e);
}

TEST(MainLayout, SizeBetween) {
    // 1001 x 701: h3 = 160, S = 335.
    const Expect e[kLaidOutControlCount] = {{10, 30, 100, 160},   {130, 30, 335, 160},  {515, 30, 100, 160},
                                            {635, 30, 335, 160},  {10, 195, 100, 160},  {130, 195, 335, 160},
                                            {515, 195, 100, 160}, {635, 195, 335, 160}, {10, 360, 100, 160},
                                            {130, 360, 335, 160}, {515, 360, 100, 160}, {635, 360, 335, 160},
                                            {10, 526, 760, 124},  {780, 533, 80, 20},   {780, 563, 80, 30}};
    checkLayout(1001, 701, e);
}

TEST(MainLayout, FramesEncloseTheirPanels) {
    for (int w : {900, 1050, 1200})
        for (int h : {520, 700, 900}) {
            ControlPlacement c[kLaidOutControlCount];
            layoutControls(w, h, c);
            PlotGeometry g = plotGeometry(w, h);
            for (int panel = 0; panel < kPlotPanelCount; ++panel) {
                // Frames: meter frame 4 * row + 0/2, graph frame 4 * row + 1/3.
                int row = panel / 2;
                int side = panel % 2;
                const ControlPlacement& mf = c[4 * row + 2 * side];
                const ControlPlacement& gf = c[4 * row + 2 * side + 1];
                PixelRect m = meterRect(g, panel);
                PixelRect gr = graphRect(g, panel);
                // The offscreen image has the client origin; frames are
                // client-relative too. The panels sit inside the frames
                // horizontally.
                EXPECT_GE(m.left, mf.x) << w << "x" << h << " " << panel;
                EXPECT_LE(m.right, mf.x + mf.w) << w << "x" << h << " " << panel;
                EXPECT_GE(gr.left, gf.x) << w << "x" << h << " " << panel;
                EXPECT_LE(gr.right, gf.x + gf.w) << w << "x" << h << " " << panel;
            }
        }
}

TEST(MainLayout, InitialPositionsAndTabStrip) {
    ControlPlacement c[kLaidOutControlCount];
    initialControls(520, c);
    EXPECT_EQ(c[0].x, 10);
    EXPECT_EQ(c[12].y, 745);
    EXPECT_EQ(c[12].w, 760);
    EXPECT_EQ(c[13].y, 352);
    EXPECT_EQ(c[14].y, 382);
    ControlPlacement t = tabPlacement(884);
    EXPECT_EQ(t.x, 5);
    EXPECT_EQ(t.y, 5);
    EXPECT_EQ(t.w, 884);
    EXPECT_EQ(t.h, 20);
}

TEST(MainLayout, CentredTenPixelsBelowCentre) {
    int x = 0, y = 0;
    centredPosition(1280, 1024, 900, 520, &x, &y);
    EXPECT_EQ(x, 190);
    EXPECT_EQ(y, 262);
    centredPosition(1921, 1081, 901, 521, &x, &y);
    EXPECT_EQ(x, 960 - 450);
    EXPECT_EQ(y, 540 - 250);
}

TEST(MainLayout, TabCountAndSlotAreClamped) {
    const int counts[][2] = {{INT_MIN, 0}, {-1, 0}, {0, 0}, {1, 1}, {3, 3}, {8, 8}, {9, 8}, {INT_MAX, 8}};
    for (const auto& c : counts)
        EXPECT_EQ(wantedTabCount(c[0]), c[1]) << c[0];
    const int tabs[][2] = {{-1, 0}, {0, 0}, {5, 5}, {7, 7}, {8, 0}, {INT_MAX, 0}};
    for (const auto& t : tabs)
        EXPECT_EQ(slotForTab(t[0]), t[1]) << t[0];
}
