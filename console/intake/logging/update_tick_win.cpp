#include "console/intake/logging/update_tick_win.h"

#include "console/intake/logging/csv_dialogs_win.h"
#include "console/intake/logging/log_console.h"
#include "console/intake/logging/logger.h"

#include <cstring>
#include <string>
#include <thread>

namespace {

void uncheck(const UpdateTickLinks& links) {
    SendMessageW(links.csvCheckBox, BM_SETCHECK, BST_UNCHECKED, 0);
}

// One logging run on its own thread; it owns copies of the links and the path,
// as it may outlive the tick.
struct LoggerThread {
    UpdateTickLinks links;
    LogConsole console;
    char path[kCsvPathBytes];
    int32_t run;
};

void runLoggerThread(LoggerThread run) {
    LoggerEdges edges;
    edges.context = &run;
    edges.refusePath = [](void* r) {
        const UpdateTickLinks& links = static_cast<LoggerThread*>(r)->links;
        MessageBoxW(links.mainWindow, L"パスに空白を含まないで下さい", kConsoleTitle, MB_OK);
        uncheck(links);
    };
    edges.attachConsole = [](void* r) { return attachLogConsole(static_cast<LoggerThread*>(r)->console); };
    edges.releaseConsole = [](void* r) { releaseLogConsole(static_cast<LoggerThread*>(r)->console); };
    edges.leaveConsole = [](void* r) { leaveLogConsole(static_cast<LoggerThread*>(r)->console); };
    edges.printPieces = [](void* r, const std::vector<ConsolePiece>& pieces) {
        printLogPieces(static_cast<LoggerThread*>(r)->console, pieces);
    };
    edges.localTime = [](void*) { return currentLogTime(); };
    edges.clock = systemLogWaitClock();
    const UpdateTickLinks& tick = run.links;
    const LoggerLinks links{tick.panel, tick.csv, tick.appRunning, tick.uiReady, run.run};
    runLogger(links, edges, run.path);
}

const UpdateTickLinks& linksOf(void* context) {
    return *static_cast<const UpdateTickLinks*>(context);
}

CsvStartEdges startEdges(const UpdateTickLinks& links) {
    CsvStartEdges edges;
    edges.context = const_cast<UpdateTickLinks*>(&links);
    edges.isBoxChecked = [](void* l) {
        return SendMessageW(linksOf(l).csvCheckBox, BM_GETCHECK, 0, 0) == BST_CHECKED;
    };
    edges.uncheckBox = [](void* l) { uncheck(linksOf(l)); };
    edges.chooseFile = [](void* l, char path[kCsvPathBytes]) {
        return chooseCsvFile(linksOf(l).mainWindow, path);
    };
    edges.chooseItems = [](void* l) {
        const UpdateTickLinks& links = linksOf(l);
        OutputDialogContext context;
        context.panel = links.panel;
        context.csv = links.csv;
        showOutputDialog(links.instance, links.mainWindow, context);
    };
    edges.showCannotSave = [](void* l) {
        MessageBoxW(linksOf(l).mainWindow, L"CSVファイルを保存できません", kCsvSaveCaption, MB_OK);
    };
    edges.startLogger = [](void* l, const char* path, int32_t number) {
        LoggerThread run{};
        run.links = linksOf(l);
        run.run = number;
        std::strncpy(run.path, path, kCsvPathBytes - 1);
        std::thread(runLoggerThread, run).detach();
    };
    return edges;
}

struct TickContext {
    const UpdateTickLinks* links;
    CsvStartEdges start;
};

TickEdges tickEdges(TickContext& context) {
    TickEdges edges;
    edges.context = &context;
    edges.gpuCount = [](void* c) { return usableGpuCount(*static_cast<TickContext*>(c)->links->panel); };
    edges.checkBoxControl = [](void* c) {
        auto* context = static_cast<TickContext*>(c);
        csvCheckBoxControl(*context->links->csv, context->start);
    };
    edges.sleepMs = [](void*, uint32_t ms) { Sleep(ms); };
    edges.display = context.links->display;
    return edges;
}

} // namespace

void runUpdateTick(const UpdateTickLinks& links) {
    TickContext context{&links, startEdges(links)};
    runTickLoop(*links.uiReady, *links.appRunning, tickEdges(context));
}
