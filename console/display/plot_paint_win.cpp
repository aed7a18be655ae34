#include "console/display/console_paint_win.h"
#include "console/display/plot_geometry.h"

#include <algorithm>

namespace {

constexpr int kFrameImageWidth = 417;
constexpr int kFrameImageHeight = 208;
constexpr BYTE kBarOpacity = 192;

// Redraws the border and interior of the graph frame image for panel height p.
void refreshGraphFrame(PlotTemplates& t, int p) {
    HDC dst = t.graphFrame.dc;
    HDC src = t.frame.dc;
    p = std::min(p, kFrameImageHeight);
    BitBlt(dst, 0, 0, 417, 1, src, 0, 0, SRCCOPY);
    BitBlt(dst, 1, 1, 415, 1, src, 1, 1, SRCCOPY);
    BitBlt(dst, 0, 0, 1, p, src, 0, 0, SRCCOPY);
    BitBlt(dst, 1, 1, 1, p - 2, src, 1, 1, SRCCOPY);
    BitBlt(dst, 2, 2, 414, p - 3, src, 2, 2, SRCCOPY);
}

void loadSeries(const ShownGpu& shown, HistorySeries series, int32_t out[kHistoryEntries]) {
    for (int j = 0; j < kHistoryEntries; ++j)
        out[j] = historyEntry(*shown.history, shown.slot, series, j);
}

const Surface& barSurface(const PlotTemplates& t, BarColour colour) {
    switch (colour) {
    case BarColour::Orange:
        return t.orangeBar;
    case BarColour::Blue:
        return t.blueBar;
    default:
        return t.greenBar;
    }
}

} // namespace

void paintPlotPanels(PanelImages& images, const ShownGpu& shown, HDC offscreen, int outerWidth,
                     int outerHeight) {
    PlotTemplates& t = images.templates;
    PlotGeometry g = plotGeometry(outerWidth, outerHeight);
    // A graph needs room for its border and one interior row and column.
    if (!t.graphFrame.dc || !t.frame.dc || g.p < 4 || g.s < 22)
        return;
    const PanelSlotSnapshot& s = shown.readings;

    refreshGraphFrame(t, g.p);
    int shownWidth = std::min(g.s - 18, kFrameImageWidth);
    int shownHeight = std::min(g.p, kFrameImageHeight);
    for (PlotPanel panel : kPlotPanels) {
        PixelRect r = graphRect(g, panel);
        BitBlt(offscreen, r.left, r.top, shownWidth, shownHeight, t.graphFrame.dc, 0, 0, SRCCOPY);
    }

    int phase = shown.history->gridPhase.load(std::memory_order_relaxed);
    PixelRect lines[64];
    for (PlotPanel panel : kPlotPanels) {
        int n = gridLines(g, panel, phase, lines, 64);
        for (int i = 0; i < n; ++i) {
            const PixelRect& l = lines[i];
            bool vertical = l.right - l.left == 1 && l.bottom - l.top > 1;
            const Surface& src = vertical ? t.gridV : t.gridH;
            BitBlt(offscreen, l.left, l.top, std::min(l.right - l.left, src.width),
                   std::min(l.bottom - l.top, src.height), src.dc, 0, 0, SRCCOPY);
        }
    }

    BLENDFUNCTION blend = {AC_SRC_OVER, 0, kBarOpacity, 0};
    int32_t entries[kHistoryEntries];
    BarPiece pieces[2 * kHistoryEntries];
    const struct {
        PlotPanel panel;
        HistorySeries series;
        int32_t scale, rated;
    } bars[] = {
        {PlotPanel::GraphicsClock, HistorySeries::GraphicsClock, s.graphicsClockScale, s.graphicsClockRated},
        {PlotPanel::MemoryClock, HistorySeries::MemoryClock, s.memoryClockScale, s.memoryClockRated}};
    for (const auto& b : bars) {
        loadSeries(shown, b.series, entries);
        int n = clockBars(g, b.panel, entries, b.scale, b.rated, pieces, 2 * kHistoryEntries);
        for (int i = 0; i < n; ++i) {
            const Surface& bar = barSurface(t, pieces[i].colour);
            int h = std::min(pieces[i].rect.bottom - pieces[i].rect.top, bar.height);
            if (bar.dc && h > 0)
                AlphaBlend(offscreen, pieces[i].rect.left, pieces[i].rect.bottom - h, 2, h, bar.dc, 0, 0, 2,
                           h, blend);
        }
    }

    HPEN pen = CreatePen(PS_SOLID, 1, RGB(0, 255, 0));
    HGDIOBJ previousPen = SelectObject(offscreen, pen);
    const struct {
        PlotPanel panel;
        HistorySeries series;
    } lineGraphs[] = {{PlotPanel::GpuLoad, HistorySeries::GpuLoad},
                      {PlotPanel::MemoryUsage, HistorySeries::MemoryUsage},
                      {PlotPanel::Temperature, HistorySeries::Temperature},
                      {PlotPanel::PowerDraw, HistorySeries::PowerDraw}};
    PixelPoint points[kHistoryEntries];
    for (const auto& line : lineGraphs) {
        const PlotPanel panel = line.panel;
        loadSeries(shown, line.series, entries);
        int n = linePoints(g, panel, entries, lineMaximum(panel, s.memoryTotal, s.powerLimit), points,
                           kHistoryEntries);
        if (n == 0)
            continue;
        MoveToEx(offscreen, points[0].x, points[0].y, nullptr);
        for (int i = 1; i < n; ++i)
            LineTo(offscreen, points[i].x, points[i].y);
    }
    SelectObject(offscreen, previousPen);
    DeleteObject(pen);
}
