#include "console/display/main_layout.h"

#include "protocol/gpu_sample.h"

#include <algorithm>

void layoutControls(int w, int h, ControlPlacement out[kLaidOutControlCount]) {
    int h3 = (h - 220) / 3;
    int s = w / 2 - 165;
    int rows[3] = {30, h3 + 35, 2 * h3 + 40};
    for (int row = 0; row < 3; ++row) {
        out[4 * row + 0] = {10, rows[row], 100, h3};
        out[4 * row + 1] = {130, rows[row], s, h3};
        out[4 * row + 2] = {s + 180, rows[row], 100, h3};
        out[4 * row + 3] = {s + 300, rows[row], s, h3};
    }
    out[12] = {10, h - 175, 760, 124};
    out[13] = {780, h - 168, 80, 20};
    out[14] = {780, h - 138, 80, 30};
}

void initialControls(int h, ControlPlacement out[kLaidOutControlCount]) {
    static const ControlPlacement kFrames[13] = {
        {10, 30, 100, 120},  {130, 30, 200, 120},  {420, 30, 100, 120},  {540, 30, 200, 120},
        {10, 270, 100, 120}, {130, 270, 200, 120}, {420, 270, 100, 120}, {540, 270, 200, 120},
        {10, 506, 100, 120}, {130, 506, 200, 120}, {420, 506, 100, 120}, {540, 506, 200, 120},
        {10, 745, 760, 124}};
    for (int i = 0; i < 13; ++i)
        out[i] = kFrames[i];
    out[13] = {780, h - 168, 80, 20};
    out[14] = {780, h - 138, 80, 30};
}

PixelRect readoutRepaintArea(int outerWidth, int outerHeight) {
    PlotGeometry g = plotGeometry(outerWidth, outerHeight);
    PixelRect areas[kInvalidationRectCount];
    invalidationRects(g, areas);
    ControlPlacement at[kLaidOutControlCount];
    layoutControls(outerWidth, outerHeight, at);
    const ControlPlacement& frame = at[12];
    // The caption is one 12-pixel line at the frame's top; the border is two
    // pixels wide.
    PixelRect inside = {frame.x + 2, frame.y + 13, frame.x + frame.w - 2, frame.y + frame.h - 2};
    PixelRect image = readoutRect(g);
    const PixelRect& a = areas[12];
    return {std::max({a.left, inside.left, image.left}), std::max({a.top, inside.top, image.top}),
            std::min({a.right, inside.right, image.right}),
            std::min({a.bottom, inside.bottom, image.bottom})};
}

void tickRepaintAreas(int outerWidth, int outerHeight, PixelRect out[kInvalidationRectCount]) {
    invalidationRects(plotGeometry(outerWidth, outerHeight), out);
    out[kGraphAreaCount] = readoutRepaintArea(outerWidth, outerHeight);
}

bool isMeterOrReadoutArea(int i) {
    return i < kPlotPanelCount || i == kGraphAreaCount;
}

ControlPlacement tabPlacement(int clientWidth) {
    return {5, 5, clientWidth, 20};
}

void centredPosition(int screenWidth, int screenHeight, int outerWidth, int outerHeight, int* x, int* y) {
    *x = screenWidth / 2 - outerWidth / 2;
    *y = screenHeight / 2 - (outerHeight - 20) / 2;
}

int wantedTabCount(int32_t gpuCount) {
    if (gpuCount <= 0)
        return 0;
    return gpuCount > kGpuSlotCount ? kGpuSlotCount : gpuCount;
}

int slotForTab(int tabIndex) {
    if (tabIndex < 0 || tabIndex >= kGpuSlotCount)
        return 0;
    return tabIndex;
}
