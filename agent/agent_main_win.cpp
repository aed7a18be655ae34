// Entry of the Agent program: single instance, window, start-up checks, GPU
// recognition, and the sampler and reporting threads. The process-wide state
// of the Agent lives here.
#include "agent/agent_window_win.h"
#include "agent/driver_table_win.h"
#include "agent/sampler.h"
#include "agent/startup.h"
#include "agent/transport.h"
#include "gpu/nvapi_binding.h"

#include <windows.h>

#include <commctrl.h>

#include <thread>

namespace {

constexpr const wchar_t* kCaption = L"Kovra Gaugeline Agent";
constexpr const wchar_t* kMutexName = L"Kovra Gaugeline Agent.exe";

AgentState agent;
AgentWindow mainWindow;
ReporterConfig reporter;

void showMessage(void*, StartupMessage message) {
    MessageBoxW(nullptr, startupMessageText(message), kCaption, MB_OK);
}

bool fail(StartupMessage message, bool stopAgent) {
    showMessage(nullptr, message);
    if (stopAgent)
        agent.agentRunning.store(0, std::memory_order_relaxed);
    return false;
}

void unloadDriver() {
    NvAPI_Unload();
}

bool windowsVersionOk() {
    OSVERSIONINFOW version = {};
    version.dwOSVersionInfoSize = sizeof version;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    if (!GetVersionExW(&version))
        return false;
#pragma GCC diagnostic pop
    return windowsVersionSupported(version.dwMajorVersion, version.dwMinorVersion);
}

bool initInstance(HINSTANCE instance, int showCommand) {
    InitCommonControls();
    mainWindow.instance = instance;
    mainWindow.state = &agent;
    mainWindow.onDestroy = unloadDriver;
    HWND window = createAgentWindow(mainWindow, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
    if (!window)
        return fail(StartupMessage::WindowFailed, true);
    mainWindow.window = window;
    RECT outer;
    GetWindowRect(window, &outer);

    mainWindow.font =
        CreateFontW(12, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, SHIFTJIS_CHARSET, OUT_DEFAULT_PRECIS,
                    CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, L"ＭＳ Ｐゴシック");
    if (!mainWindow.font)
        return fail(StartupMessage::FontFailed, false);

    if (!windowsVersionOk())
        return fail(StartupMessage::OldWindows, true);

    wchar_t directory[261] = {};
    GetCurrentDirectoryW(260, directory);
    OutputDebugStringW(directory);

    StartupHooks hooks;
    hooks.message = showMessage;
    if (!prepareGpus(agent, windowsDriverTable(), hooks))
        return false;

    std::thread([] { runSampler(agent, windowsDriverTable(), 1000); }).detach();
    reporter.invalidate = invalidateAgentWindow;
    reporter.invalidateContext = &mainWindow;
    std::thread([] { runReporter(agent, reporter); }).detach();

    ShowWindow(window, showCommand);
    UpdateWindow(window);
    return true;
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
    agent.agentRunning.store(1, std::memory_order_relaxed);
    HANDLE mutex = CreateMutexW(nullptr, TRUE, kMutexName);
    if (!mutex)
        return 0;
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(mutex);
        return 0;
    }
    mainWindow.mutex = mutex;
    mainWindow.instance = instance;
    LoadStringW(instance, kStringTitle, mainWindow.title, 100);
    LoadStringW(instance, kStringClass, mainWindow.className, 100);
    registerAgentClass(mainWindow);

    if (!initInstance(instance, showCommand))
        return 0;

    HACCEL accelerators = LoadAcceleratorsW(instance, MAKEINTRESOURCEW(kAccelerators));
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (!TranslateAcceleratorW(message.hwnd, accelerators, &message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    return static_cast<int>(message.wParam);
}
