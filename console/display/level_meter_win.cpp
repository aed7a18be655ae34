#include "console/display/console_paint_win.h"
#include "console/display/level_meter.h"

#include <algorithm>
#include <cwchar>

namespace {

// Sunken border from the frame template, black interior; row P - 1 (from
// x 1) and column 81 stay white.
void drawMeterFrame(HDC dst, HDC frame, int p) {
    int rows = std::min(p, 210);
    BitBlt(dst, 0, 0, 82, 1, frame, 0, 0, SRCCOPY);
    BitBlt(dst, 1, 1, 80, 1, frame, 1, 1, SRCCOPY);
    BitBlt(dst, 0, 0, 1, rows, frame, 0, 0, SRCCOPY);
    BitBlt(dst, 1, 1, 1, rows - 2, frame, 1, 1, SRCCOPY);
    BitBlt(dst, 2, 2, 79, p - 3, frame, 2, 2, SRCCOPY);
}

void drawSegments(HDC dst, HDC led, int p, int lit) {
    int n = meterSegmentCount(p);
    for (int i = 0; i < n; ++i) {
        int y = meterSegmentY(p, i);
        int row = i < lit ? 2 : 0;
        BitBlt(dst, kSegmentLeftX, y, kSegmentWidth, 2, led, 0, row, SRCCOPY);
        BitBlt(dst, kSegmentRightX, y, kSegmentWidth, 2, led, 0, row, SRCCOPY);
        if (i == n - 1 && meterHasTopStrip(p)) {
            BitBlt(dst, kSegmentLeftX, y - 1, kSegmentWidth, 1, led, 0, row, SRCCOPY);
            BitBlt(dst, kSegmentRightX, y - 1, kSegmentWidth, 1, led, 0, row, SRCCOPY);
        }
    }
}

} // namespace

void paintLevelMeters(PanelImages& images, const ShownGpu& shown, HDC offscreen, int outerWidth,
                      int outerHeight) {
    PlotTemplates& t = images.templates;
    PlotGeometry g = plotGeometry(outerWidth, outerHeight);
    if (!t.frame.dc || !t.led.dc || g.p < 4)
        return;
    const PanelSlotSnapshot& s = shown.readings;
    Surface* meters = images.meterImages;
    for (int i = 0; i < kPlotPanelCount; ++i)
        if (!keepSurface(meters[i], kMeterWidth, g.p, RGB(255, 255, 255), images.font))
            return;
    int n = meterSegmentCount(g.p);
    for (int i = 0; i < kPlotPanelCount; ++i) {
        HDC dc = meters[i].dc;
        drawMeterFrame(dc, t.frame.dc, g.p);
        drawSegments(dc, t.led.dc, g.p, meterLitCount(s, kPlotPanels[i], n));
        wchar_t caption[kMeterCaptionChars];
        int x = meterCaption(s, kPlotPanels[i], caption);
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, RGB(0, 255, 0));
        TextOutW(dc, x, g.p - 18, caption, static_cast<int>(std::wcslen(caption)));
        PixelRect r = meterRect(g, kPlotPanels[i]);
        BitBlt(offscreen, r.left, r.top, kMeterWidth, g.p, dc, 0, 0, SRCCOPY);
    }
}
