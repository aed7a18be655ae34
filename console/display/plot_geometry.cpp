#include "console/display/plot_geometry.h"

#include <algorithm>
#include <cmath>

namespace {

// trunc(x) held inside [lo, hi]; NaN gives lo.
int truncWithin(double x, int lo, int hi) {
    if (!(x > lo))
        return lo;
    if (x >= hi)
        return hi;
    return static_cast<int>(std::trunc(x));
}

int graphLeft(const PlotGeometry& g, PlotPanel panel) {
    return isLeftPanel(panel) ? 139 : g.s + 309;
}

// First column where entries of this graph may be drawn.
int firstDrawnX(const PlotGeometry& g, PlotPanel panel) {
    return isLeftPanel(panel) ? 140 : g.s + 311;
}

} // namespace

PlotGeometry plotGeometry(int outerWidth, int outerHeight) {
    PlotGeometry g;
    g.width = outerWidth;
    g.height = outerHeight;
    g.p = (outerHeight - 20) / 3 - 92;
    g.s = outerWidth / 2 - 165;
    return g;
}

bool isLeftPanel(PlotPanel panel) {
    return static_cast<int>(panel) % 2 == 0;
}

int panelRowTop(const PlotGeometry& g, PlotPanel panel) {
    switch (static_cast<int>(panel) / 2) {
    case 0:
        return 47;
    case 1:
        return g.p + 77;
    default:
        return 2 * g.p + 107;
    }
}

PixelRect meterRect(const PlotGeometry& g, PlotPanel panel) {
    int x = isLeftPanel(panel) ? 19 : g.s + 189;
    int t = panelRowTop(g, panel);
    return {x, t, x + kMeterWidth, t + g.p};
}

PixelRect graphRect(const PlotGeometry& g, PlotPanel panel) {
    int x = graphLeft(g, panel);
    int t = panelRowTop(g, panel);
    return {x, t, x + g.s - 18, t + g.p};
}

PixelRect readoutRect(const PlotGeometry& g) {
    return {22, g.height - 162, 22 + kReadoutWidth, g.height - 162 + kReadoutHeight};
}

void invalidationRects(const PlotGeometry& g, PixelRect out[kInvalidationRectCount]) {
    int half = g.width / 2;
    int p = g.p;
    int tops[3] = {47, p + 77, 2 * p + 107};
    for (int row = 0; row < 3; ++row) {
        out[2 * row] = {19, tops[row], 101, tops[row] + p};
        out[2 * row + 1] = {half + 24, tops[row], half + 106, tops[row] + p};
    }
    for (int row = 0; row < 3; ++row) {
        out[6 + 2 * row] = {139, tops[row], half - 44, tops[row] + p};
        out[6 + 2 * row + 1] = {half + 144, tops[row], 2 * half - 39, tops[row] + p};
    }
    out[12] = {12, g.height - 162, 772, g.height - 34};
}

int gridLines(const PlotGeometry& g, PlotPanel panel, int gridPhase, PixelRect* out, int maxLines) {
    int count = 0;
    int t = panelRowTop(g, panel);
    bool left = isLeftPanel(panel);
    int rightEdge = left ? g.s + 119 : 2 * g.s + 290;
    int leftEdge = left ? 140 : g.s + 311;
    for (int k = 0; 12 * k < g.s - 21 && count < maxLines; ++k) {
        int x = rightEdge - 12 * k - gridPhase;
        if (x > leftEdge && x < rightEdge)
            out[count++] = {x, t + 2, x + 1, t + 2 + g.p - 3};
    }
    int startX = left ? (panel == PlotPanel::GraphicsClock ? 140 : 141) : g.s + 311;
    int firstY = static_cast<int>(panel) / 2 == 0 ? 49 : t;
    for (int k = 0; 12 * k < g.p - 3 && count < maxLines; ++k) {
        int y = firstY + 12 * k;
        out[count++] = {startX, y, startX + g.s - 21, y + 1};
    }
    return count;
}

BarHeights graphicsClockBarHeights(int32_t value, int32_t scale, int32_t rated, int p) {
    BarHeights h;
    int q = p - 3;
    int base = p + 46;
    int32_t maximum = scale != 0 ? scale : rated;
    if (maximum <= 0 || value < 0 || q <= 0)
        return h;
    double v = value;
    int pointY = std::max(base - truncWithin(v / maximum * p, 0, base), 49);
    int lower = 0;
    int upper = 0;
    if (scale != 0 && rated == 0) {
        // No rated clock: nothing to call boost, the clock is plain green on the scale.
        double c = scale;
        lower = value > scale ? q : truncWithin(v / c * q, 0, q);
    } else if (scale != 0) {
        double c = scale;
        // Green up to the rated clock, orange from there up to the scale
        // maximum; a scale below the rated clock leaves no room for orange.
        lower = std::min(truncWithin(v / c * q, 0, q), truncWithin(static_cast<double>(rated) / c * q, 0, q));
        int top = truncWithin(std::min(v, c) / c * q, 0, q);
        upper = std::max(top - lower, 0);
    } else {
        lower = value > rated ? q : truncWithin(v / rated * q, 0, q);
    }
    int extension = pointY + lower + upper < base ? 2 : 0;
    lower += extension;
    // Never above the panel's top row T = 47, that is B - (P - 1).
    int room = p - 1;
    lower = std::min(lower, room);
    upper = std::min(upper, room - lower);
    h.drawn = true;
    h.lower = lower;
    h.upper = upper;
    return h;
}

BarHeights memoryClockBarHeights(int32_t value, int32_t scale, int32_t rated, int p) {
    BarHeights h;
    int q = p - 3;
    int base = p + 46;
    int32_t maximum = scale != 0 ? scale : rated;
    if (maximum <= 0 || value < 0 || q <= 0)
        return h;
    double v = value;
    int pointY = std::max(base - truncWithin(v / maximum * p, 0, base), 49);
    // Against the rated clock; without one, against the scale.
    int32_t full = rated != 0 ? rated : scale;
    int height = value > full ? q : truncWithin(v / full * q, 0, q);
    int extension = pointY + height < base ? 1 : 0;
    h.drawn = true;
    h.lower = std::min(height + extension, p - 1);
    return h;
}

int barX(const PlotGeometry& g, PlotPanel panel, int entry) {
    return (panel == PlotPanel::GraphicsClock ? g.s + 118 : 2 * g.s + 289) - 2 * entry;
}

int clockBars(const PlotGeometry& g, PlotPanel panel, const int32_t* entries, int32_t scale, int32_t rated,
              BarPiece* out, int maxPieces) {
    if (panel != PlotPanel::GraphicsClock && panel != PlotPanel::MemoryClock)
        return 0;
    int count = 0;
    int base = g.p + 46;
    int minX = firstDrawnX(g, panel);
    for (int j = 0; j < kHistoryEntries; ++j) {
        int x = barX(g, panel, j);
        if (x < minX)
            break;
        if (entries[j] == kEmptyEntry)
            continue;
        BarHeights h = panel == PlotPanel::GraphicsClock
                           ? graphicsClockBarHeights(entries[j], scale, rated, g.p)
                           : memoryClockBarHeights(entries[j], scale, rated, g.p);
        if (!h.drawn)
            continue;
        BarColour lowerColour = panel == PlotPanel::GraphicsClock ? BarColour::Green : BarColour::Blue;
        if (h.lower > 0 && count < maxPieces)
            out[count++] = {{x, base - h.lower, x + 2, base}, lowerColour};
        if (h.upper > 0 && count < maxPieces)
            out[count++] = {{x, base - h.lower - h.upper, x + 2, base - h.lower}, BarColour::Orange};
    }
    return count;
}

int lineX(const PlotGeometry& g, PlotPanel panel, int entry) {
    return (isLeftPanel(panel) ? g.s + 119 : 2 * g.s + 290) - 2 * entry;
}

bool linePointY(const PlotGeometry& g, PlotPanel panel, int32_t value, double maximum, int* y) {
    if (!(maximum > 0))
        return false;
    int t = panelRowTop(g, panel);
    int zeroRow = t + g.p - 3;
    double scaled;
    if (panel == PlotPanel::MemoryUsage)
        scaled = static_cast<double>(value) / maximum * g.p;
    else
        scaled = static_cast<double>(static_cast<float>(value) / static_cast<float>(maximum) * g.p);
    // Above the maximum the point holds at T + 1; below zero at the zero line.
    int rise = truncWithin(scaled, 0, g.p);
    *y = std::max(zeroRow - rise, t + 1);
    return true;
}

int linePoints(const PlotGeometry& g, PlotPanel panel, const int32_t* entries, double maximum,
               PixelPoint* out, int maxPoints) {
    if (panel == PlotPanel::GraphicsClock || panel == PlotPanel::MemoryClock)
        return 0;
    int count = 0;
    int minX = firstDrawnX(g, panel);
    for (int j = 0; j < kHistoryEntries && count < maxPoints; ++j) {
        int x = lineX(g, panel, j);
        if (x < minX)
            break;
        int y = 0;
        if (entries[j] == kEmptyEntry || !linePointY(g, panel, entries[j], maximum, &y))
            continue;
        out[count++] = {x, y};
    }
    return count;
}

double lineMaximum(PlotPanel panel, uint32_t memoryTotal, int32_t powerLimit) {
    switch (panel) {
    case PlotPanel::MemoryUsage:
        return memoryTotal;
    case PlotPanel::PowerDraw:
        return powerLimit;
    default:
        return 100.0;
    }
}
