#include "console/app/update_tick_win.h"

#include "console/app/main_window_win.h"
#include "console/intake/logging/csv_dialogs_win.h"
#include "console/intake/logging/log_console.h"
#include "console/intake/logging/logger.h"

#include <cstring>
#include <thread>

namespace {

ConsoleApp& appOf(void* context) {
    return *static_cast<ConsoleApp*>(context);
}

void uncheckBox(void* app) {
    SendMessageW(appOf(app).csvCheckBox, BM_SETCHECK, BST_UNCHECKED, 0);
}

// One logging run on its own thread, as it may outlive the tick pass that
// started it: it owns its console and a copy of the path.
struct LoggerThread {
    ConsoleApp* app;
    LogConsole console;
    char path[kCsvPathBytes];
    int32_t run;
};

LoggerThread& runOf(void* context) {
    return *static_cast<LoggerThread*>(context);
}

void refusePath(void* run) {
    ConsoleApp& app = *runOf(run).app;
    MessageBoxW(app.mainWindow, L"パスに空白を含まないで下さい", kConsoleTitle, MB_OK);
    uncheckBox(&app);
}

bool attachConsole(void* run) {
    return attachLogConsole(runOf(run).console);
}

void releaseConsole(void* run) {
    releaseLogConsole(runOf(run).console);
}

void leaveConsole(void* run) {
    leaveLogConsole(runOf(run).console);
}

void printPieces(void* run, const std::vector<ConsolePiece>& pieces) {
    printLogPieces(runOf(run).console, pieces);
}

LogTime localTime(void*) {
    return currentLogTime();
}

void runLoggerThread(LoggerThread run) {
    const LoggerCallbacks callbacks{&run,         refusePath,  attachConsole, releaseConsole,
                                    leaveConsole, printPieces, localTime,     systemLogClock()};
    ConsoleApp& app = *run.app;
    runLogger({&app.panel, &app.csv, &app.appRunning, &app.uiReady, run.run}, callbacks, run.path);
}

bool isBoxChecked(void* app) {
    return SendMessageW(appOf(app).csvCheckBox, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

bool chooseFile(void* app, char path[kCsvPathBytes]) {
    return chooseCsvFile(appOf(app).mainWindow, path);
}

void chooseItems(void* context) {
    ConsoleApp& app = appOf(context);
    OutputDialogContext dialog;
    dialog.panel = &app.panel;
    dialog.csv = &app.csv;
    showOutputDialog(app.instance, app.mainWindow, dialog);
}

void showCannotSave(void* app) {
    MessageBoxW(appOf(app).mainWindow, L"CSVファイルを保存できません", kCsvSaveCaption, MB_OK);
}

void startLogger(void* app, const char* path, int32_t number) {
    LoggerThread run{};
    run.app = &appOf(app);
    run.run = number;
    std::strncpy(run.path, path, kCsvPathBytes - 1);
    std::thread(runLoggerThread, run).detach();
}

} // namespace

void runTickPass(ConsoleApp& app) {
    const CsvStartCallbacks csvStart{&app,        isBoxChecked,   uncheckBox, chooseFile,
                                     chooseItems, showCannotSave, startLogger};
    const int count = usableGpuCount(app.panel);
    for (int i = 0; i < count; ++i) {
        advanceHistories(app.history, app.panel, i);
        syncGpuTab(app, i);
    }
    csvCheckBoxControl(app.csv, csvStart);
    advanceGridPhase(app.history);
    invalidatePlotAreas(app);
}

void runUpdateTick(ConsoleApp& app) {
    if (app.uiReady.load(std::memory_order_relaxed) == 0)
        return;
    for (;;) {
        runTickPass(app);
        if (app.appRunning.load(std::memory_order_relaxed) == 0)
            return;
        Sleep(kTickPeriodMs);
    }
}
