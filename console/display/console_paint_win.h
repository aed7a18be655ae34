// Painting of the main window's offscreen image: the six graphs, the six
// level meters and the readout panel of the shown GPU slot. Each draws only
// inside its own panels, so they can run in any order on one image.
#pragma once
#include "console/display/console_app_win.h"

#include <windows.h>

// The six graphs: frame image, grid, clock bars, line graphs.
void paintPlotPanels(ConsoleApp& app, HDC offscreen, int outerWidth, int outerHeight);
// The six level meters: frame, LED segments, caption.
void paintLevelMeters(ConsoleApp& app, HDC offscreen, int outerWidth, int outerHeight);
// The readout panel at (22, H - 162).
void paintReadoutPanel(ConsoleApp& app, HDC offscreen, int outerHeight);

// A snapshot of the slot the panels show.
PanelSlotSnapshot shownSnapshot(const ConsoleApp& app);
