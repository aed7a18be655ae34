// The Console's process-wide state: window handles, the panel state that the
// receiver fills, the history store, the CSV choices and the flags that the
// worker threads poll. One instance lives in the program's entry file; every
// function takes it by reference.
#pragma once
#include "console/display/history_store.h"
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
    Surface offscreen; // the window's image, kept between paints (UI thread only)

    std::atomic<int32_t> appRunning{0};
    std::atomic<int32_t> uiReady{0};
    // GPU slot shown by every panel, 0..7.
    std::atomic<int32_t> selectedGpu{0};

    IntakeWindowHooks hooks;
};

// The slot every panel shows, clamped to 0..7.
int shownSlot(const ConsoleApp& app);
