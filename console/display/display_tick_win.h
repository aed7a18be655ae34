// A once-a-second tick that keeps the display moving (histories, tabs, grid,
// repaint) without CSV logging; used when the logging tick is not built in.
#pragma once
#include "console/display/console_app_win.h"

void runDisplayTick(ConsoleApp& app);
