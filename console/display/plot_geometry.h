// Where the six panels, their graphs and grid lines, the bars and line points
// lie in the main window's offscreen image, for an outer window size W x H.
// Everything a paint draws is computed here so that tests can check it.
#pragma once
#include "console/display/history_store.h"

#include <cstdint>

// The six panels: left and right of the top, middle and bottom rows.
enum class PlotPanel { GraphicsClock, MemoryClock, GpuLoad, MemoryUsage, Temperature, PowerDraw };
constexpr int kPlotPanelCount = 6;
constexpr PlotPanel kPlotPanels[kPlotPanelCount] = {PlotPanel::GraphicsClock, PlotPanel::MemoryClock,
                                                    PlotPanel::GpuLoad,       PlotPanel::MemoryUsage,
                                                    PlotPanel::Temperature,   PlotPanel::PowerDraw};

struct PlotGeometry {
    int width = 0;  // outer window width W
    int height = 0; // outer window height H
    int p = 0;      // panel height (H - 20) / 3 - 92
    int s = 0;      // span W / 2 - 165
};

// Left, top, right, bottom; right and bottom are one past the last pixel.
struct PixelRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
};

struct PixelPoint {
    int x = 0;
    int y = 0;
};

constexpr int kMeterWidth = 82;
constexpr int kReadoutWidth = 760;
constexpr int kReadoutHeight = 110;
constexpr int kInvalidationRectCount = 13;
// The first twelve are the meter and graph areas, the last the readout panel.
constexpr int kGraphAreaCount = 12;

PlotGeometry plotGeometry(int outerWidth, int outerHeight);

bool isLeftPanel(PlotPanel panel);
// Row top T: 47, P + 77 or 2P + 107.
int panelRowTop(const PlotGeometry& g, PlotPanel panel);
// Meter image (82 x P) and graph ((S - 18) x P) placement.
PixelRect meterRect(const PlotGeometry& g, PlotPanel panel);
PixelRect graphRect(const PlotGeometry& g, PlotPanel panel);
// Readout panel image, 760 x 110 at (22, H - 162).
PixelRect readoutRect(const PlotGeometry& g);

// The thirteen areas the tick repaints: six meters, six graphs, the readout.
void invalidationRects(const PlotGeometry& g, PixelRect out[kInvalidationRectCount]);

// Grid lines of one graph as rectangles 1 pixel wide or high, vertical ones
// first. Returns the count (never more than maxLines).
int gridLines(const PlotGeometry& g, PlotPanel panel, int gridPhase, PixelRect* out, int maxLines);

// Bars of the two clock graphs.
enum class BarColour { Green, Orange, Blue };

struct BarPiece {
    PixelRect rect;
    BarColour colour = BarColour::Green;
};

// Heights of one clock bar above the baseline B = P + 46: the lower part
// (green or blue, extension included) and the orange part on top of it.
struct BarHeights {
    bool drawn = false;
    int lower = 0;
    int upper = 0;
};

BarHeights graphicsClockBarHeights(int32_t value, int32_t scale, int32_t rated, int p);
BarHeights memoryClockBarHeights(int32_t value, int32_t scale, int32_t rated, int p);

// x of entry j: S + 118 - 2j (Graphics Clock) or 2S + 289 - 2j (Memory Clock).
int barX(const PlotGeometry& g, PlotPanel panel, int entry);

// Every bar piece of a clock graph, oldest entry last. entries holds 208
// values, newest first. Returns the count (at most 2 * 208).
int clockBars(const PlotGeometry& g, PlotPanel panel, const int32_t* entries, int32_t scale, int32_t rated,
              BarPiece* out, int maxPieces);

// Line graphs: x of entry j is S + 119 - 2j or 2S + 290 - 2j.
int lineX(const PlotGeometry& g, PlotPanel panel, int entry);
// y of a reading against the panel's maximum; false when the maximum is 0
// or below (nothing can be placed).
bool linePointY(const PlotGeometry& g, PlotPanel panel, int32_t value, double maximum, int* y);
// The polyline of a line graph: the first point is where the pen starts.
// Returns the count (at most 208).
int linePoints(const PlotGeometry& g, PlotPanel panel, const int32_t* entries, double maximum,
               PixelPoint* out, int maxPoints);

// Scale maximum of a panel for the line graphs (GPU Load and Temperature 100).
double lineMaximum(PlotPanel panel, uint32_t memoryTotal, int32_t powerLimit);
