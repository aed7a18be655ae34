// Painting of the main window's offscreen image: the six graphs, the six
// level meters and the readout panel of the shown GPU slot. Each draws only
// inside its own panels, so they can run in any order on one image.
#pragma once
#include "console/display/history_store.h"
#include "console/display/plot_geometry.h"
#include "console/display/plot_templates_win.h"

#include <windows.h>

// What the panels are drawn with, kept between paints and made again only for
// a new size (UI thread only): the templates, the window's image, the scratch
// images of the six level meters and the readout panel (the last two with the
// UI font selected).
struct PanelImages {
    PlotTemplates templates;
    Surface offscreen;
    Surface meterImages[kPlotPanelCount];
    Surface readoutImage;
    HFONT font = nullptr;
};

// The GPU slot every panel shows: its readings and its history.
struct ShownGpu {
    int slot = 0;
    PanelSlotSnapshot readings{};
    const HistoryStore* history = nullptr;
};

// The six graphs: frame image, grid, clock bars, line graphs.
void paintPlotPanels(PanelImages& images, const ShownGpu& shown, HDC offscreen, int outerWidth,
                     int outerHeight);
// The six level meters: frame, LED segments, caption.
void paintLevelMeters(PanelImages& images, const ShownGpu& shown, HDC offscreen, int outerWidth,
                      int outerHeight);
// The readout panel at (22, H - 162).
void paintReadoutPanel(PanelImages& images, const ShownGpu& shown, HDC offscreen, int outerHeight);
