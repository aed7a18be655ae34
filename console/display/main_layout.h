// Placement of the main window and its child controls.
#pragma once
#include "console/display/plot_geometry.h"

#include <cstdint>

constexpr int kInitialWidth = 900;
constexpr int kInitialHeight = 520;
constexpr int kMaxTrackWidth = 1200;
constexpr int kMaxTrackHeight = 900;
constexpr int kLaidOutControlCount = 15;

struct ControlPlacement {
    int x = 0;
    int y = 0;
    int w = 0;
    int h = 0;
};

// Controls 1 to 15 of the main window (the thirteen frames, then the "CSV
// 出力" check box and the "IP 入力" button) for an outer size W x H:
// h3 = (H - 220) / 3, S = W / 2 - 165.
void layoutControls(int outerWidth, int outerHeight, ControlPlacement out[kLaidOutControlCount]);
// Positions the controls get at creation (H: outer height after creation).
void initialControls(int outerHeight, ControlPlacement out[kLaidOutControlCount]);
// What the tick repaints of the readout each second: its invalidation area
// cut to the readout image and to the inside of its frame, clear of the
// frame's border and caption, so the frame need not paint again with it.
PixelRect readoutRepaintArea(int outerWidth, int outerHeight);
// The areas the tick repaints: the meter areas (0..5), the graph areas
// (6..11) and readoutRepaintArea (12).
void tickRepaintAreas(int outerWidth, int outerHeight, PixelRect out[kInvalidationRectCount]);
// Whether tick area i shows the meters or the readout (not a graph).
bool isMeterOrReadoutArea(int i);
// The tab strip: (5, 5), the client width, 20 high.
ControlPlacement tabPlacement(int clientWidth);
// Horizontally centred, 10 pixels below vertical centring.
void centredPosition(int screenWidth, int screenHeight, int outerWidth, int outerHeight, int* x, int* y);

// Tabs the strip should have for a GPU count: 0..8 (0 leaves it alone).
int wantedTabCount(int32_t gpuCount);
// The slot a tab selection shows: 0..7; no selection (-1) shows slot 0.
int slotForTab(int tabIndex);
