// Time of one full paint of the offscreen image (meters, graphs with full
// histories, readout) at the smallest and largest window. Prints figures.
#include "console/display/console_paint_win.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

struct Scene {
    GpuPanelState panel;
    HistoryStore history;
    PanelImages images;
};

ShownGpu shown(const Scene& a) {
    return {0, snapshotPanelSlot(a.panel, 0), &a.history};
}

} // namespace

int main() {
    auto app = std::make_unique<Scene>();
    initGpuPanelState(app->panel);
    initHistoryStore(app->history);
    createPlotTemplates(app->images.templates);
    app->images.font =
        CreateFontW(12, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, SHIFTJIS_CHARSET, OUT_DEFAULT_PRECIS,
                    CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, L"ＭＳ Ｐゴシック");
    GpuPanelSlot& s = app->panel.slots[0];
#define SUPPORT_ALL(name, kind, conv) store(s.name, 1);
    GAUGELINE_SAMPLE_FIELDS(SUPPORT_ALL)
#undef SUPPORT_ALL
    store(s.graphicsClockScale, 2000000);
    store(s.graphicsClockRated, 1500000);
    store(s.memoryClockRated, 8000000);
    store(s.memoryTotal, 8388608);
    store(s.powerLimit, 250000);
    for (int series = 0; series < kHistorySeriesCount; ++series)
        for (int j = 0; j < kHistoryEntries; ++j)
            app->history.slots[0].series[series][j].store(series < 2 ? 1000000 + 4000 * j : 20 + j % 60);
    // The whole paint, and each of its steps alone: where a second's paint goes.
    struct Step {
        const char* name;
        void (*paint)(Scene&, HDC, int, int);
    } steps[] = {
        {"whole paint",
         [](Scene& a, HDC dc, int w, int h) {
             paintLevelMeters(a.images, shown(a), dc, w, h);
             paintPlotPanels(a.images, shown(a), dc, w, h);
             paintReadoutPanel(a.images, shown(a), dc, h);
         }},
        {"level meters",
         [](Scene& a, HDC dc, int w, int h) { paintLevelMeters(a.images, shown(a), dc, w, h); }},
        {"plot panels",
         [](Scene& a, HDC dc, int w, int h) { paintPlotPanels(a.images, shown(a), dc, w, h); }},
        {"readout panel", [](Scene& a, HDC dc, int, int h) { paintReadoutPanel(a.images, shown(a), dc, h); }},
    };
    for (auto size : {std::pair<int, int>{900, 520}, {1200, 900}}) {
        Surface image;
        createSurface(image, size.first, size.second - 20, RGB(255, 255, 255));
        for (const Step& step : steps) {
            std::vector<double> ms;
            for (int i = 0; i < 60; ++i) {
                auto start = std::chrono::steady_clock::now();
                fillSurface(image, RGB(255, 255, 255));
                step.paint(*app, image.dc, size.first, size.second);
                GdiFlush();
                ms.push_back(
                    std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                        .count());
            }
            std::sort(ms.begin(), ms.end());
            std::printf("%-14s %dx%d: median %.2f ms, min %.2f ms, max %.2f ms (60 paints)\n", step.name,
                        size.first, size.second, ms[ms.size() / 2], ms.front(), ms.back());
        }
        releaseSurface(image);
    }
    releasePlotTemplates(app->images.templates);
    DeleteObject(app->images.font);
    return 0;
}
