#include "console/display/display_tick_win.h"

void runDisplayTick(ConsoleApp& app) {
    if (app.uiReady.load(std::memory_order_relaxed) == 0)
        return;
    for (;;) {
        int count = usableGpuCount(app.panel);
        for (int slot = 0; slot < count; ++slot) {
            advanceHistories(app, slot);
            syncGpuTab(app, slot);
        }
        advanceGridPhase(app);
        invalidatePlotAreas(app);
        if (app.appRunning.load(std::memory_order_relaxed) == 0)
            return;
        Sleep(1000);
    }
}
