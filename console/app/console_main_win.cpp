// Entry of Kovra Gaugeline Console: single instance, window, worker threads,
// message loop.
#include "common/program_shell_win.h"
#include "console/app/main_window_win.h"
#include "console/app/update_tick_win.h"
#include "console/intake/link/intake.h"

#include <thread>

namespace {

ConsoleApp gConsole;

const wchar_t kConsoleMutexName[] = L"Kovra Gaugeline Console.exe";

// Returns the process exit code: 0 on every early exit, else the quit code.
int runConsole(ConsoleApp& app, HINSTANCE instance, int showCommand) {
    app.appRunning.store(1, std::memory_order_relaxed);
    HANDLE mutex = claimSingleInstance(kConsoleMutexName);
    if (!mutex)
        return 0;
    app.instanceMutex = mutex;
    if (!registerConsoleClass(app, instance))
        return 0;
    initConsoleState(app);
    if (!createMainWindow(app))
        return 0;

    ConsoleApp* shared = &app;
    std::thread([shared] { runUpdateTick(*shared); }).detach();
    // Listening is tried here and at "接続" only, never in the background.
    ensureListening(app.listener);
    ReceiverConfig receiver;
    receiver.listener = &app.listener;
    std::thread([shared, receiver] {
        runReceiver(shared->panel, shared->windowCallbacks, receiver);
    }).detach();
    showMainWindow(app, showCommand);

    return runMessageLoop(LoadAcceleratorsW(instance, MAKEINTRESOURCEW(IDC_CONSOLE)));
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
    return runConsole(gConsole, instance, showCommand);
}
