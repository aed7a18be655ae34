// Drawing templates of the graphs and level meters: small memory surfaces made
// once when the main window is created and released when it is destroyed.
#pragma once
#include <windows.h>

#include <cstdint>

struct Surface {
    HDC dc = nullptr;
    HBITMAP bitmap = nullptr;
    HGDIOBJ previous = nullptr;
    uint32_t* bits = nullptr; // top-down 32-bit pixels, 0x00RRGGBB
    int width = 0;
    int height = 0;
};

struct PlotTemplates {
    Surface frame;    // 418 x 256, sunken border and black interior
    Surface led;      // 256 x 256, the 20 x 4 LED pattern at the top left
    Surface gridV;    // 1 x 210
    Surface gridH;    // 418 x 1
    Surface greenBar; // 2 x 204 each
    Surface orangeBar;
    Surface blueBar;
    Surface graphFrame; // 417 x 208, white at creation
};

// A 32-bit top-down memory surface filled with fill. False (and nothing
// held) when the platform refuses.
bool createSurface(Surface& surface, int width, int height, COLORREF fill);
void releaseSurface(Surface& surface);
// Every pixel of the surface in one colour, as createSurface leaves it.
void fillSurface(Surface& surface, COLORREF fill);
// The pixels of area (clipped to the surface) in one colour.
void fillSurfaceRect(Surface& surface, COLORREF fill, const RECT& area);
// A surface kept from paint to paint: filled when it has the size asked for,
// else made again at that size with font (if any) selected into it for good.
// False (and nothing held) when the platform refuses.
bool keepSurface(Surface& surface, int width, int height, COLORREF fill, HFONT font);

bool createPlotTemplates(PlotTemplates& templates);
void releasePlotTemplates(PlotTemplates& templates);
