// The level meter beside each graph: how many LED segments it has, how many
// are lit for the current reading, where they sit, and its caption.
#pragma once
#include "console/display/plot_geometry.h"
#include "console/intake/link/panel_state.h"

constexpr int kMeterCaptionChars = 48;
constexpr int kSegmentWidth = 17;
constexpr int kSegmentLeftX = 23;
constexpr int kSegmentRightX = 41;

// ceil((P - 32) / 3), 0 when P <= 32.
int meterSegmentCount(int p);
// The top segment gets a one-row strip above it when P - 32 is a multiple of 3.
bool meterHasTopStrip(int p);
// Top row of segment i (0 at the bottom): P - 27 - 3i.
int meterSegmentY(int p, int segment);

// Reading over maximum of a meter; false when the maximum is 0 or below.
bool meterRatio(const PanelSlotSnapshot& slot, PlotPanel panel, double* ratio);
// trunc(r * n + 0.5), single precision except Memory Usage; held in 0..n.
// A maximum of 0 lights nothing.
int meterLitCount(const PanelSlotSnapshot& slot, PlotPanel panel, int segments);

// Caption text and its x inside the meter ("No Support" at 14 when the
// reading's flag is 0). Returns the x.
int meterCaption(const PanelSlotSnapshot& slot, PlotPanel panel, wchar_t out[kMeterCaptionChars]);
