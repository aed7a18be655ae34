// The logging thread: the path check, the header, then one row per interval
// to the CSV file and the text console until the box is unchecked; and the
// check box's look once a tick that starts and stops those runs.
#pragma once
#include "console/intake/link/panel_state.h"
#include "console/intake/logging/csv_format.h"
#include "console/intake/logging/csv_settings.h"
#include "console/intake/logging/log_console_block.h"
#include "console/intake/logging/logger_wait.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

// The shared state a logging run reads.
struct LoggerConfig {
    GpuPanelState* panel = nullptr;
    CsvSettings* csv = nullptr;
    const std::atomic<int32_t>* appRunning = nullptr;
    const std::atomic<int32_t>* uiReady = nullptr;
    int32_t run = 0; // the run number the tick gave this run (csvRun)
};

// The platform side of a logging run. Every entry must be set.
struct LoggerCallbacks {
    void* context = nullptr;
    // A path with a space: tell the operator (modal) and uncheck the box;
    // csvLogging is cleared after it returns.
    void (*refusePath)(void* context) = nullptr;
    // Opens the text console; false when it cannot be written to.
    bool (*attachConsole)(void* context) = nullptr;
    void (*releaseConsole)(void* context) = nullptr;
    // The run is over and a newer one may hold the console: close this run's
    // own stream and leave the console as it is.
    void (*leaveConsole)(void* context) = nullptr;
    void (*printPieces)(void* context, const std::vector<ConsolePiece>& pieces) = nullptr;
    LogTime (*localTime)(void* context) = nullptr;
    LogClockCallbacks clock;
};

// The machine's local time now.
LogTime currentLogTime();

// Appends bytes to the file (binary, so the CR LF of the lines are kept as
// they are). False when the file cannot be opened or not all bytes went out.
bool appendToFile(const char* path, const std::string& bytes);

enum class LogRowOutcome {
    NotReady,    // uiReady was 0: nothing done
    Written,     // the data line is in the file, the block on the console
    FileMissing, // the file could not be opened: console message only
    RunOver,     // a newer run has started: no row
};

// One row: reads the panel once, appends the data line to the file at path
// and prints the matching block on the console.
LogRowOutcome writeLogRow(const LoggerConfig& links, const LoggerCallbacks& edges, const char* path);

enum class LoggerEnd {
    PathRefused,   // the path had a space; logging switched off
    ConsoleFailed, // header written (if the file opened), no console, no rows
    LoggingOff,    // the box was unchecked
    AppEnded,      // the program is ending
    RunOver,       // a newer run started while this one was held up
};

// Body of the logging thread for the path chosen in the save dialog (at most
// kCsvPathBytes bytes are read). The first row is written at once, the next
// ones logIntervalMs after the end of the previous row.
LoggerEnd runLogger(const LoggerConfig& links, const LoggerCallbacks& edges, const char* path);

// The platform side of the check box control; every entry must be set.
struct CsvStartCallbacks {
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
CheckBoxStep csvCheckBoxControl(CsvSettings& csv, const CsvStartCallbacks& edges);
