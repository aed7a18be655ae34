#include "console/app/console_app_win.h"

#include "console/display/main_layout.h"

void initConsoleState(ConsoleApp& app) {
    initGpuPanelState(app.panel);
    app.selectedGpu.store(0, std::memory_order_relaxed);
    initHistoryStore(app.history);
    initCsvSettings(app.csv);
}

int shownSlot(const ConsoleApp& app) {
    return slotForTab(app.selectedGpu.load(std::memory_order_relaxed));
}

ShownGpu shownGpu(const ConsoleApp& app) {
    const int slot = shownSlot(app);
    return {slot, snapshotPanelSlot(app.panel, slot), &app.history};
}
