// The Console's process-wide state: window handles, the panel state that the
// receiver fills, the history store, the CSV choices and the flags that the
// worker threads poll. One instance lives in the program's entry file; every
// function takes it by reference.
#pragma once
#include "console/display/console_paint_win.h"
#include "console/display/history_store.h"
#include "console/intake/link/intake.h"
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
    HANDLE instanceMutex = nullptr;
    wchar_t title[kTitleChars] = {};
    wchar_t className[kTitleChars] = {};

    GpuPanelState panel;
    ListenerSlot listener;
    HistoryStore history;
    CsvSettings csv;
    PanelImages images;

    // What the meters and the readout show on screen (meterAndReadoutContent;
    // 0: not known), set by the paint and read by the tick, which repaints
    // them only when what they would show has changed.
    std::atomic<uint64_t> meterAndReadoutShown{0};

    std::atomic<int32_t> appRunning{0};
    std::atomic<int32_t> uiReady{0};
    // GPU slot shown by every panel, 0..7.
    std::atomic<int32_t> selectedGpu{0};

    IntakeWindowCallbacks windowCallbacks;

    // What the tick last gave the tab control (tick thread only), so that an
    // unchanged label costs no message and no repaint. Any other change to the
    // tabs counts tabsChanged, and the tick then asks the control again.
    std::atomic<uint32_t> tabsChanged{0};
    uint32_t tabsSeen = 0;
    int tabCountShown = -1;
    wchar_t tabTextShown[kGpuSlotCount][kTabLabelBytes + 1] = {};
};

// The start-up state of the panel, the history and the CSV choices.
void initConsoleState(ConsoleApp& app);

// The slot every panel shows, clamped to 0..7.
int shownSlot(const ConsoleApp& app);
// That slot's readings and history, as the painters take them.
ShownGpu shownGpu(const ConsoleApp& app);
