#include "console/intake/update_tick.h"

#include "console/display/console_app_win.h"
#include "console/intake/csv_dialogs_win.h"
#include "console/intake/log_console.h"
#include "console/intake/logger.h"

#include <cstring>
#include <string>
#include <thread>

namespace {

void uncheck(ConsoleApp& app) {
    SendMessageW(app.csvCheckBox, BM_SETCHECK, BST_UNCHECKED, 0);
}

// One logging run on its own thread; it owns a copy of the path.
struct LoggerThread {
    ConsoleApp* app;
    LogConsole console;
    char path[kCsvPathBytes];
    int32_t run;
};

void runLoggerThread(LoggerThread run) {
    LoggerEdges edges;
    edges.context = &run;
    edges.refusePath = [](void* r) {
        ConsoleApp& app = *static_cast<LoggerThread*>(r)->app;
        MessageBoxW(app.mainWindow, L"パスに空白を含まないで下さい", kConsoleTitle, MB_OK);
        uncheck(app);
    };
    edges.attachConsole = [](void* r) { return attachLogConsole(static_cast<LoggerThread*>(r)->console); };
    edges.releaseConsole = [](void* r) { releaseLogConsole(static_cast<LoggerThread*>(r)->console); };
    edges.leaveConsole = [](void* r) { leaveLogConsole(static_cast<LoggerThread*>(r)->console); };
    edges.printPieces = [](void* r, const std::vector<ConsolePiece>& pieces) {
        printLogPieces(static_cast<LoggerThread*>(r)->console, pieces);
    };
    edges.localTime = [](void*) { return currentLogTime(); };
    edges.clock = systemLogWaitClock();
    ConsoleApp& app = *run.app;
    const LoggerLinks links{&app.panel, &app.csv, &app.appRunning, &app.uiReady, run.run};
    runLogger(links, edges, run.path);
}

CsvStartEdges startEdges(ConsoleApp& app) {
    CsvStartEdges edges;
    edges.context = &app;
    edges.isBoxChecked = [](void* a) {
        return SendMessageW(static_cast<ConsoleApp*>(a)->csvCheckBox, BM_GETCHECK, 0, 0) == BST_CHECKED;
    };
    edges.uncheckBox = [](void* a) { uncheck(*static_cast<ConsoleApp*>(a)); };
    edges.chooseFile = [](void* a, char path[kCsvPathBytes]) {
        return chooseCsvFile(static_cast<ConsoleApp*>(a)->mainWindow, path);
    };
    edges.chooseItems = [](void* a) {
        ConsoleApp& app = *static_cast<ConsoleApp*>(a);
        OutputDialogContext context;
        context.panel = &app.panel;
        context.csv = &app.csv;
        showOutputDialog(app.instance, app.mainWindow, context);
    };
    edges.showCannotSave = [](void* a) {
        MessageBoxW(static_cast<ConsoleApp*>(a)->mainWindow, L"CSVファイルを保存できません", kCsvSaveCaption,
                    MB_OK);
    };
    edges.startLogger = [](void* a, const char* path, int32_t number) {
        LoggerThread run{};
        run.app = static_cast<ConsoleApp*>(a);
        run.run = number;
        std::strncpy(run.path, path, kCsvPathBytes - 1);
        std::thread(runLoggerThread, run).detach();
    };
    return edges;
}

struct TickContext {
    ConsoleApp* app;
    CsvStartEdges start;
};

TickEdges tickEdges(TickContext& context) {
    TickEdges edges;
    edges.context = &context;
    edges.gpuCount = [](void* c) { return usableGpuCount(static_cast<TickContext*>(c)->app->panel); };
    edges.advanceHistories = [](void* c, int slot) {
        advanceHistories(*static_cast<TickContext*>(c)->app, slot);
    };
    edges.syncGpuTab = [](void* c, int slot) { syncGpuTab(*static_cast<TickContext*>(c)->app, slot); };
    edges.checkBoxControl = [](void* c) {
        auto* context = static_cast<TickContext*>(c);
        csvCheckBoxControl(context->app->csv, context->start);
    };
    edges.advanceGridPhase = [](void* c) { advanceGridPhase(*static_cast<TickContext*>(c)->app); };
    edges.invalidatePlotAreas = [](void* c) { invalidatePlotAreas(*static_cast<TickContext*>(c)->app); };
    edges.sleepMs = [](void*, uint32_t ms) { Sleep(ms); };
    return edges;
}

} // namespace

void runUpdateTick(ConsoleApp& app) {
    TickContext context{&app, startEdges(app)};
    runTickLoop(app.uiReady, app.appRunning, tickEdges(context));
}
