// The Console's once-a-second tick: history advance, tab strip, the CSV check
// box, grid phase and repaint; and the start and stop of CSV logging.
#pragma once
#include "console/intake/logging/csv_settings.h"

#include <atomic>
#include <cstdint>

// The platform side of the check box control; every entry must be set.
struct CsvStartEdges {
    void* context = nullptr;
    bool (*isBoxChecked)(void* context) = nullptr;
    void (*uncheckBox)(void* context) = nullptr;
    // The save-file dialog over the buffer (which offers the previous choice);
    // false when cancelled or failed.
    bool (*chooseFile)(void* context, char path[kCsvPathBytes]) = nullptr;
    // Dialog 138, modal; it sets csvDialogCancelled when closed with the close box.
    void (*chooseItems)(void* context) = nullptr;
    // "CSVファイルを保存できません", modal.
    void (*showCannotSave)(void* context) = nullptr;
    // Starts the logging thread for run number run on a copy of the path.
    void (*startLogger)(void* context, const char* path, int32_t run) = nullptr;
};

enum class CheckBoxStep {
    Unchanged, // nothing to do
    Stopped,   // box unchecked while logging: csvLogging cleared
    Started,   // dialogs answered, logging thread started
    Cancelled, // a dialog was cancelled: logging off, box unchecked
};

// One look at the check box, once a tick between the tabs and the grid phase.
CheckBoxStep csvCheckBoxControl(CsvSettings& csv, const CsvStartEdges& edges);

// The display's share of a tick, filled in by the window; every entry must be set.
struct TickDisplay {
    void* context = nullptr;
    void (*advanceHistories)(void* context, int slot) = nullptr;
    // Brings the tab strip to the usable GPU count and sets tab slot's text.
    void (*syncGpuTab)(void* context, int slot) = nullptr;
    void (*advanceGridPhase)(void* context) = nullptr;
    // Marks the six meters, six graphs and the readout panel for repainting.
    void (*invalidatePlotAreas)(void* context) = nullptr;
};

// The rest of the tick as calls, so the loop can run without a window.
struct TickEdges {
    void* context = nullptr;
    int (*gpuCount)(void* context) = nullptr; // usable count, 0..8
    void (*checkBoxControl)(void* context) = nullptr;
    void (*sleepMs)(void* context, uint32_t ms) = nullptr;
    TickDisplay display;
};

constexpr uint32_t kTickPeriodMs = 1000;

// One pass: histories and tabs of every slot in use, the check box, grid
// phase, invalidation.
void runTickPass(const TickEdges& edges);

// The tick loop: nothing when uiReady is 0; otherwise passes one second
// apart until appRunning reads 0 after a pass. Returns the passes run.
int runTickLoop(const std::atomic<int32_t>& uiReady, const std::atomic<int32_t>& appRunning,
                const TickEdges& edges);
