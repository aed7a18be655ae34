// The Console's once-a-second tick: history advance, tab strip, the CSV check
// box, grid phase and repaint; and the start and stop of CSV logging.
#pragma once
#include "console/intake/csv_settings.h"

#include <atomic>
#include <cstdint>

struct ConsoleApp;

// Body of the tick thread (Windows); started once the main window exists.
// Returns when uiReady is 0 at start or appRunning is 0 after a pass.
void runUpdateTick(ConsoleApp& app);

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

// One look at the check box (step 3 of a tick).
CheckBoxStep csvCheckBoxControl(CsvSettings& csv, const CsvStartEdges& edges);

// The rest of the tick as calls, so the loop can run without a window.
struct TickEdges {
    void* context = nullptr;
    int (*gpuCount)(void* context) = nullptr; // usable count, 0..8
    void (*advanceHistories)(void* context, int slot) = nullptr;
    void (*syncGpuTab)(void* context, int slot) = nullptr;
    void (*checkBoxControl)(void* context) = nullptr;
    void (*advanceGridPhase)(void* context) = nullptr;
    void (*invalidatePlotAreas)(void* context) = nullptr;
    void (*sleepMs)(void* context, uint32_t ms) = nullptr;
};

constexpr uint32_t kTickPeriodMs = 1000;

// One pass: histories and tabs of every slot in use, the check box, grid
// phase, invalidation.
void runTickPass(const TickEdges& edges);

// The tick loop: nothing when uiReady is 0; otherwise passes one second
// apart until appRunning reads 0 after a pass. Returns the passes run.
int runTickLoop(const std::atomic<int32_t>& uiReady, const std::atomic<int32_t>& appRunning,
                const TickEdges& edges);
