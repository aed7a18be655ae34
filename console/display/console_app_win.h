// The Console's process-wide state: window handles, the panel state that the
// receiver fills, the history store, the CSV choices and the flags that the
// worker threads poll. One instance lives in the program's entry file; every
// function takes it by reference.
#pragma once
#include "console/display/history_store.h"
#include "console/display/plot_geometry.h"
#include "console/display/plot_templates_win.h"
#include "console/intake/link/intake.h"
#include "console/intake/link/intake_hooks.h"
#include "console/intake/link/panel_state.h"
#include "console/intake/logging/csv_settings.h"

#include <windows.h>

#include <atomic>
#include <cstdint>

constexpr int kFrameCount = 13;
constexpr int kTitleChars = 100;

struct ConsoleApp {
    HINSTANCE instance = nullptr;
    HWND mainWindow = nullptr;
    HWND tabControl = nullptr;
    HWND csvCheckBox = nullptr;
    HWND ipButton = nullptr;
    HWND frames[kFrameCount] = {};
    HFONT font = nullptr;
    HANDLE instanceMutex = nullptr;
    wchar_t title[kTitleChars] = {};
    wchar_t className[kTitleChars] = {};

    GpuPanelState panel;
    ListenerSlot listener;
    HistoryStore history;
    CsvSettings csv;
    PlotTemplates templates;
    // Kept between paints and made again only for a new size (UI thread
    // only): the window's image and the scratch images of the six level
    // meters and the readout panel, the last two with the UI font selected.
    Surface offscreen;
    Surface meterImages[kPlotPanelCount];
    Surface readoutImage;

    // What the meters and the readout show on screen (meterAndReadoutContent;
    // 0: not known), set by the paint and read by the tick, which repaints
    // them only when what they would show has changed.
    std::atomic<uint64_t> meterAndReadoutShown{0};

    std::atomic<int32_t> appRunning{0};
    std::atomic<int32_t> uiReady{0};
    // GPU slot shown by every panel, 0..7.
    std::atomic<int32_t> selectedGpu{0};

    IntakeWindowHooks hooks;

    // What the tick last gave the tab control (tick thread only), so that an
    // unchanged label costs no message and no repaint. Any other change to the
    // tabs counts tabsChanged, and the tick then asks the control again.
    std::atomic<uint32_t> tabsChanged{0};
    uint32_t tabsSeen = 0;
    int tabCountShown = -1;
    wchar_t tabTextShown[kGpuSlotCount][kTabLabelBytes + 1] = {};
};

// The slot every panel shows, clamped to 0..7.
int shownSlot(const ConsoleApp& app);
