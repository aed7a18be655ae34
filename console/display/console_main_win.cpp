// Entry of Kovra Gaugeline Console.
#include "console/display/console_entry_win.h"
#include "console/display/main_window_win.h"

ConsoleApp gConsole;

namespace {

void tickThread(ConsoleApp& app) {
    runUpdateTick(updateTickLinks(app));
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
    return runConsole(gConsole, instance, showCommand, tickThread);
}
