// The Console's tick thread: once a second the histories, the tab strip, the
// CSV check box, the grid phase and the repaint; it starts the logging runs.
#pragma once
#include "console/app/console_app_win.h"

#include <cstdint>

constexpr uint32_t kTickPeriodMs = 1000;

// One pass: histories and tabs of every slot in use, the check box, grid
// phase, invalidation.
void runTickPass(ConsoleApp& app);

// Body of the tick thread: nothing when uiReady is 0; otherwise passes one
// second apart until appRunning reads 0 after a pass.
void runUpdateTick(ConsoleApp& app);
