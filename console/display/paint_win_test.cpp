// Pixels of the offscreen image as the paint functions leave them.
#include "console/display/console_paint_win.h"
#include "console/display/level_meter.h"
#include "console/display/main_layout.h"

#include <gtest/gtest.h>

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
// Bars are drawn with opacity 192: green, orange and blue over black, green over a grid line.
constexpr uint32_t kGreenBar = rgb(0, 192, 0), kOrangeBar = rgb(192, 48, 0), kBlueBar = rgb(0, 96, 192),
                   kGreenOnGrid = rgb(0, 223, 15);

// A probe expects the colour, within 2 per channel; with kNot anything else.
constexpr uint32_t kNot = 1u << 24;
struct Probe {
    int x, y;
    uint32_t want;
};

bool matches(uint32_t c, uint32_t want) {
    bool alike = true;
    for (int shift : {16, 8, 0})
        alike = alike &&
                std::abs(static_cast<int>(c >> shift & 255) - static_cast<int>(want >> shift & 255)) <= 2;
    return alike != ((want & kNot) != 0);
}

// The panel state and history a Console holds, the tab it shows, and its images.
struct Scene {
    GpuPanelState panel;
    HistoryStore history;
    PanelImages images;
    int selectedTab = 0;
};

struct Painter {
    std::unique_ptr<Scene> app = std::make_unique<Scene>();
    Surface image;
    int w = 900, h = 520;

    Painter() {
        initGpuPanelState(app->panel);
        initHistoryStore(app->history);
        EXPECT_TRUE(createPlotTemplates(app->images.templates));
        app->images.font =
            CreateFontW(12, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, SHIFTJIS_CHARSET, OUT_DEFAULT_PRECIS,
                        CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, L"ＭＳ Ｐゴシック");
    }
    ~Painter() {
        releaseSurface(image);
        releasePlotTemplates(app->images.templates);
        DeleteObject(app->images.font);
    }
    uint32_t at(int x, int y) const { return image.bits[y * image.width + x] & 0xffffff; }
    GpuPanelSlot& slot(int i = 0) { return app->panel.slots[i]; }
    void fill(HistorySeries series, int32_t value) {
        for (auto& e : app->history.slots[0].series[static_cast<int>(series)])
            e.store(value);
    }
    template <size_t N> void expect(const char* scene, const Probe (&probes)[N]) {
        releaseSurface(image);
        ASSERT_TRUE(createSurface(image, w, h - 20, RGB(255, 255, 255)));
        // All three parts, as a paint of the whole window draws them.
        const int slot = slotForTab(app->selectedTab);
        const ShownGpu shown{slot, snapshotPanelSlot(app->panel, slot), &app->history};
        paintLevelMeters(app->images, shown, image.dc, w, h);
        paintPlotPanels(app->images, shown, image.dc, w, h);
        paintReadoutPanel(app->images, shown, image.dc, h);
        GdiFlush();
        for (const Probe& p : probes)
            EXPECT_TRUE(matches(at(p.x, p.y), p.want))
                << scene << " at " << p.x << "," << p.y << ": " << std::hex << at(p.x, p.y);
    }
};

// Pixels of colour ink in a rectangle of image.
int count(const Surface& image, int left, int top, int right, int bottom, uint32_t ink) {
    int n = 0;
    for (int y = top; y < bottom; ++y)
        for (int x = left; x < right; ++x)
            n += (image.bits[y * image.width + x] & 0xffffff) == ink;
    return n;
}

// Each meter's caption at start-up covers the pixels "No Support" drawn alone
// in green on black covers, right of column 14.
void expectNoSupportText(const Painter& p) {
    Surface ref;
    createSurface(ref, 200, 20, RGB(0, 0, 0));
    SelectObject(ref.dc, p.app->images.font);
    SetBkMode(ref.dc, TRANSPARENT);
    SetTextColor(ref.dc, RGB(0, 255, 0));
    TextOutW(ref.dc, 0, 0, L"No Support", 10);
    GdiFlush();
    const int alone = count(ref, 0, 0, 200, 20, kLit);
    releaseSurface(ref);
    ASSERT_GT(alone, 20);
    PlotGeometry g = plotGeometry(p.w, p.h);
    for (PlotPanel panel : kPlotPanels) {
        PixelRect m = meterRect(g, panel);
        EXPECT_EQ(count(p.image, m.left + 14, m.top + g.p - 18, m.right, m.top + g.p - 2, kLit), alone);
        EXPECT_EQ(count(p.image, m.left, m.top + g.p - 18, m.left + 14, m.top + g.p - 2, kLit), 0);
    }
}

} // namespace

TEST(Paint, ProbesThroughStartReadingsPhaseShownSlotAndSizes) {
    Painter p;
    // S = 285, P 74: Graphics Clock graph at (139, 47), vertical grid lines at
    // 404 - 12k - phase; GPU Load meter at (19, 151), 14 segments at 198 - 3i.
    const Probe kEmpty[] = {{139, 47, kLight}, {140, 48, kDark},   {139, 120, kLight}, {144, 120, kWhite},
                            {392, 60, kGrid},  {390, 60, kBlack},  {300, 49, kGrid},   {300, 100, kBlack},
                            {19, 151, kLight}, {100, 151, kLight}, {20, 152, kDark},   {100, 161, kWhite},
                            {29, 224, kWhite}, {19, 224, kLight},  {140, 49, kGrid},   {152, 60, kGrid},
                            {141, 151, kGrid}, {140, 151, kLight}, {596, 151, kGrid},  {595, 151, kLight},
                            {859, 151, kGrid}, {860, 151, kLight}};
    p.expect("empty", kEmpty);
    expectNoSupportText(p);
    p.app->history.gridPhase.store(10);
    const Probe kGridPhase10[] = {{394, 60, kGrid},   {394, 153, kGrid}, {394, 152, kDark}, {394, 223, kGrid},
                                  {394, 224, kWhite}, {850, 153, kGrid}, {850, 223, kGrid}};
    p.expect("grid phase 10", kGridPhase10);
    p.app->history.gridPhase.store(0);
    // GPU Load meter: segments 0..6 lit, 7..13 not; P - 32 = 42 is a multiple of 3: the top segment has a
    // strip.
    store(p.slot().gpuLoad, 50);
    store(p.slot().gpuLoadSupported, 1);
    // Graphics Clock entry 0 at x 403..404: green rows 65..119, orange 55..64;
    // Memory Clock entry 0 at x 2S + 289 = 859: blue, 35 + 1 rows from row 119.
    store(p.slot().graphicsClockScale, 2000000);
    store(p.slot().graphicsClockRated, 1500000);
    store(p.slot().memoryClockRated, 800000);
    p.app->history.slots[0].series[0][0].store(1800000);
    p.app->history.slots[0].series[1][0].store(400000);
    // GPU Load: T 151, y = 151 + 71 - 37 = 185; Temperature above 100 holds at
    // T + 1 = 256; Memory Usage at 3/4 of its total: 222 + 104 - 55; Power
    // Draw below zero holds at its zero line 326.
    p.fill(HistorySeries::GpuLoad, 50);
    p.fill(HistorySeries::Temperature, 150);
    p.fill(HistorySeries::MemoryUsage, 6000);
    store(p.slot().memoryTotal, 8000);
    p.fill(HistorySeries::PowerDraw, -300000);
    store(p.slot().powerLimit, 300000);
    const Probe kReadings[] = {
        {42, 180, kLit},         {43, 180, kDim},       {42, 181, kDim},          {43, 181, kLit},
        {58, 180, kLit},         {59, 180, kBlack},     {42, 182, kBlack},        {60, 198, kLit},
        {42, 177, kDim},         {43, 177, kBlack},     {42, 178, kBlack},        {43, 178, kDim},
        {58, 177, kDim},         {60, 159, kDim},       {42, 158, kDim},          {43, 158, kBlack},
        {42, 157, kBlack},       {404, 119, kGreenBar}, {404, 65, kGreenBar},     {404, 64, kOrangeBar},
        {403, 55, kOrangeBar},   {404, 54, kBlack},     {403, 109, kGreenOnGrid}, {402, 100, kBlack},
        {405, 100, kBlack},      {859, 119, kBlueBar},  {860, 84, kBlueBar},      {859, 83, kBlack},
        {150, 185, kLit},        {403, 185, kLit},      {300, 184, kNot | kLit},  {300, 186, kNot | kLit},
        {139, 185, kNot | kLit}, {300, 256, kLit},      {300, 255, kNot | kLit},  {700, 167, kLit},
        {700, 166, kNot | kLit}, {700, 326, kLit}};
    p.expect("readings", kReadings);
    store(p.slot(3).gpuLoad, 100);
    p.app->selectedTab = 3;
    const Probe kShownSlot3[] = {{42, 159, kLit}};
    p.expect("shown slot 3", kShownSlot3);
    p.app->selectedTab = 12; // no such tab: slot 0 shows
    const Probe kShownSlot12[] = {{42, 180, kLit}, {42, 159, kDim}};
    p.expect("shown slot 12", kShownSlot12);
    p.app->selectedTab = 0;
    // Entry 131 is the last bar (x 141..142); from row B - 1 = 119 up to 49, not above.
    store(p.slot().graphicsClockScale, 0);
    store(p.slot().graphicsClockRated, 1000000);
    p.fill(HistorySeries::GraphicsClock, 3000000);
    const Probe kFullHistory[] = {{141, 100, kGreenBar}, {140, 100, kDark}, {139, 100, kLight},
                                  {300, 50, kGreenBar},  {301, 48, kDark},  {301, 47, kLight}};
    p.expect("full history", kFullHistory);
    // Temperature meter top segment at P 201: no strip above it;
    // the frame image's white column 416 shows only at the widest window.
    store(p.slot().temperature, 100);
    p.w = 1200;
    p.h = 900;
    const Probe kLargest[] = {{42, 515, kLit}, {42, 514, kBlack}, {555, 97, kWhite}};
    p.expect("largest", kLargest);
    // S = 335, P 134: panel rows at 47, 211 and 375; right meters at 524, right graphs at 644.
    p.w = 1000;
    p.h = 700;
    const Probe kBetween[] = {{524, 47, kLight},  {523, 47, kWhite},  {644, 47, kLight},  {643, 47, kWhite},
                              {19, 211, kLight},  {19, 210, kWhite},  {139, 375, kLight}, {138, 375, kWhite},
                              {644, 375, kLight}, {644, 374, kWhite}, {524, 375, kLight}, {524, 508, kLight},
                              {524, 509, kWhite}};
    p.expect("between", kBetween);
}
