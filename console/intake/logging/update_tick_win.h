// The tick thread of the Console (Windows side of update_tick.h).
#pragma once
#include "console/intake/link/panel_state.h"
#include "console/intake/logging/csv_settings.h"
#include "console/intake/logging/update_tick.h"

#include <windows.h>

#include <atomic>
#include <cstdint>

// What the tick thread works on; the window fills it in once its controls exist.
struct UpdateTickLinks {
    HINSTANCE instance = nullptr;
    HWND mainWindow = nullptr; // owner of the dialogs and message boxes
    HWND csvCheckBox = nullptr;
    GpuPanelState* panel = nullptr;
    CsvSettings* csv = nullptr;
    std::atomic<int32_t>* appRunning = nullptr;
    std::atomic<int32_t>* uiReady = nullptr;
    TickDisplay display;
};

// Body of the tick thread. Returns when uiReady is 0 at start or appRunning
// is 0 after a pass.
void runUpdateTick(const UpdateTickLinks& links);
