#include "console/intake/logging/update_tick.h"

CheckBoxStep csvCheckBoxControl(CsvSettings& csv, const CsvStartEdges& edges) {
    const bool logging = csv.csvLogging.load(std::memory_order_relaxed) != 0;
    const bool checked = edges.isBoxChecked(edges.context);
    if (logging && !checked) {
        csv.csvLogging.store(0, std::memory_order_relaxed);
        return CheckBoxStep::Stopped;
    }
    if (logging || !checked)
        return CheckBoxStep::Unchanged;

    // The run number first: a thread that sees logging on again also sees
    // that its own run is over.
    const int32_t run = csv.csvRun.load(std::memory_order_relaxed) + 1;
    csv.csvRun.store(run, std::memory_order_relaxed);
    csv.csvLogging.store(1, std::memory_order_release);
    bool cancelled = !edges.chooseFile(edges.context, csv.csvPath);
    csv.csvPath[kCsvPathBytes - 1] = '\0';
    if (!cancelled) {
        csv.csvDialogCancelled.store(0, std::memory_order_relaxed);
        edges.chooseItems(edges.context);
        cancelled = csv.csvDialogCancelled.load(std::memory_order_relaxed) != 0;
    }
    if (cancelled) {
        edges.showCannotSave(edges.context);
        csv.csvLogging.store(0, std::memory_order_relaxed);
        edges.uncheckBox(edges.context);
        return CheckBoxStep::Cancelled;
    }
    edges.startLogger(edges.context, csv.csvPath, run);
    return CheckBoxStep::Started;
}

void runTickPass(const TickEdges& edges) {
    const TickDisplay& display = edges.display;
    const int count = edges.gpuCount(edges.context);
    for (int i = 0; i < count; ++i) {
        display.advanceHistories(display.context, i);
        display.syncGpuTab(display.context, i);
    }
    edges.checkBoxControl(edges.context);
    display.advanceGridPhase(display.context);
    display.invalidatePlotAreas(display.context);
}

int runTickLoop(const std::atomic<int32_t>& uiReady, const std::atomic<int32_t>& appRunning,
                const TickEdges& edges) {
    if (uiReady.load(std::memory_order_relaxed) == 0)
        return 0;
    int passes = 0;
    for (;;) {
        runTickPass(edges);
        ++passes;
        if (appRunning.load(std::memory_order_relaxed) == 0)
            return passes;
        edges.sleepMs(edges.context, kTickPeriodMs);
    }
}
