#include "console/display/console_entry_win.h"

#include "console/display/main_window_win.h"
#include "console/intake/intake.h"

#include <thread>

const wchar_t kConsoleMutexName[] = L"Kovra Gaugeline Console.exe";

int runConsole(ConsoleApp& app, HINSTANCE instance, int showCommand, void (*tick)(ConsoleApp&)) {
    app.appRunning.store(1, std::memory_order_relaxed);
    HANDLE mutex = CreateMutexW(nullptr, TRUE, kConsoleMutexName);
    if (!mutex)
        return 0;
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(mutex);
        return 0;
    }
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

    HACCEL accelerators = LoadAcceleratorsW(instance, MAKEINTRESOURCEW(109));
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (!accelerators || !TranslateAcceleratorW(message.hwnd, accelerators, &message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    return static_cast<int>(message.wParam);
}
