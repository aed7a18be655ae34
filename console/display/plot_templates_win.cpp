#include "console/display/plot_templates_win.h"

#include <algorithm>

namespace {

constexpr uint32_t pixel(int r, int g, int b) {
    return (static_cast<uint32_t>(r) << 16) | (static_cast<uint32_t>(g) << 8) | static_cast<uint32_t>(b);
}

constexpr uint32_t kBlack = pixel(0, 0, 0);
constexpr uint32_t kLight = pixel(160, 160, 160);
constexpr uint32_t kDark = pixel(105, 105, 105);
constexpr uint32_t kLedDim = pixel(0, 128, 0);
constexpr uint32_t kLedBright = pixel(0, 255, 0);

void put(Surface& s, int x, int y, uint32_t value) {
    if (x >= 0 && y >= 0 && x < s.width && y < s.height)
        s.bits[y * s.width + x] = value;
}

void fillFrameTemplate(Surface& s) {
    for (int y = 2; y <= 209; ++y)
        for (int x = 2; x <= 417; ++x)
            put(s, x, y, kBlack);
    for (int y = 0; y <= 209; ++y) {
        put(s, 0, y, kLight);
        if (y >= 1)
            put(s, 1, y, kDark);
    }
    for (int x = 0; x <= 417; ++x) {
        put(s, x, 0, kLight);
        if (x >= 1)
            put(s, x, 1, kDark);
    }
}

void fillLedTemplate(Surface& s) {
    for (int x = 0; x < 20; ++x) {
        bool even = x % 2 == 0;
        put(s, x, 0, even ? kLedDim : kBlack);
        put(s, x, 1, even ? kBlack : kLedDim);
        put(s, x, 2, even ? kLedBright : kLedDim);
        put(s, x, 3, even ? kLedDim : kLedBright);
    }
}

} // namespace

bool createSurface(Surface& surface, int width, int height, COLORREF fill) {
    surface = Surface{};
    if (width <= 0 || height <= 0)
        return false;
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!bitmap || !bits)
        return false;
    HDC dc = CreateCompatibleDC(nullptr);
    if (!dc) {
        DeleteObject(bitmap);
        return false;
    }
    surface.dc = dc;
    surface.bitmap = bitmap;
    surface.previous = SelectObject(dc, bitmap);
    surface.bits = static_cast<uint32_t*>(bits);
    surface.width = width;
    surface.height = height;
    fillSurface(surface, fill);
    return true;
}

void fillSurface(Surface& surface, COLORREF fill) {
    fillSurfaceRect(surface, fill, RECT{0, 0, surface.width, surface.height});
}

void fillSurfaceRect(Surface& surface, COLORREF fill, const RECT& area) {
    uint32_t value = pixel(GetRValue(fill), GetGValue(fill), GetBValue(fill));
    int left = std::max(0, static_cast<int>(area.left));
    int right = std::min(surface.width, static_cast<int>(area.right));
    if (left >= right)
        return;
    GdiFlush();
    for (int y = std::max(0, static_cast<int>(area.top));
         y < std::min(surface.height, static_cast<int>(area.bottom)); ++y)
        std::fill_n(surface.bits + static_cast<size_t>(y) * surface.width + left, right - left, value);
}

bool keepSurface(Surface& surface, int width, int height, COLORREF fill, HFONT font) {
    if (surface.dc && surface.width == width && surface.height == height) {
        fillSurface(surface, fill);
        return true;
    }
    releaseSurface(surface);
    if (!createSurface(surface, width, height, fill))
        return false;
    // Selecting a font costs the window system a lookup each time: once per
    // surface, not once per paint.
    if (font)
        SelectObject(surface.dc, font);
    return true;
}

void releaseSurface(Surface& surface) {
    if (surface.dc) {
        SelectObject(surface.dc, surface.previous);
        DeleteDC(surface.dc);
    }
    if (surface.bitmap)
        DeleteObject(surface.bitmap);
    surface = Surface{};
}

bool createPlotTemplates(PlotTemplates& t) {
    bool ok = createSurface(t.frame, 418, 256, RGB(255, 255, 255)) &&
              createSurface(t.led, 256, 256, RGB(0, 0, 0)) &&
              createSurface(t.gridV, 1, 210, RGB(0, 128, 64)) &&
              createSurface(t.gridH, 418, 1, RGB(0, 128, 64)) &&
              createSurface(t.greenBar, 2, 204, RGB(0, 255, 0)) &&
              createSurface(t.orangeBar, 2, 204, RGB(255, 64, 0)) &&
              createSurface(t.blueBar, 2, 204, RGB(0, 128, 255)) &&
              createSurface(t.graphFrame, 417, 208, RGB(255, 255, 255));
    if (!ok) {
        releasePlotTemplates(t);
        return false;
    }
    fillFrameTemplate(t.frame);
    fillLedTemplate(t.led);
    return true;
}

void releasePlotTemplates(PlotTemplates& t) {
    releaseSurface(t.frame);
    releaseSurface(t.led);
    releaseSurface(t.gridV);
    releaseSurface(t.gridH);
    releaseSurface(t.greenBar);
    releaseSurface(t.orangeBar);
    releaseSurface(t.blueBar);
    releaseSurface(t.graphFrame);
}
