// Entry of Kovra Gaugeline Console.
#include "console/display/console_entry_win.h"

#if GAUGELINE_HAVE_LOGGING
#include "console/intake/update_tick.h"
#else
#include "console/display/display_tick_win.h"
#endif

ConsoleApp gConsole;

namespace {

void tickThread(ConsoleApp& app) {
#if GAUGELINE_HAVE_LOGGING
    runUpdateTick(app);
#else
    runDisplayTick(app);
#endif
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
    return runConsole(gConsole, instance, showCommand, tickThread);
}
