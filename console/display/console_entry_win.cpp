#include "console/display/console_entry_win.h"

#include "common/program_shell_win.h"

#include "console/display/main_window_win.h"
#include "console/intake/link/intake.h"

#include <thread>

const wchar_t kConsoleMutexName[] = L"Kovra Gaugeline Console.exe";

int runConsole(ConsoleApp& app, HINSTANCE instance, int showCommand, void (*tick)(ConsoleApp&)) {
    app.appRunning.store(1, std::memory_order_relaxed);
    HANDLE mutex = claimSingleInstance(kConsoleMutexName);
    if (!mutex)
        return 0;
    app.instanceMutex = mutex;
    if (!registerConsoleClass(app, instance) || !createMainWindow(app))
        return 0;

    ConsoleApp* shared = &app;
    std::thread([shared, tick] { tick(*shared); }).detach();
    // Listening is tried here and at "接続" only, never in the background.
    ensureListening(app.listener);
    ReceiverConfig receiver;
    receiver.listener = &app.listener;
    std::thread([shared, receiver] { runReceiver(shared->panel, shared->hooks, receiver); }).detach();
    showMainWindow(app, showCommand);

    return runMessageLoop(LoadAcceleratorsW(instance, MAKEINTRESOURCEW(IDC_CONSOLE)));
}
