// Entry of the Agent program: single instance, window, start-up checks, GPU
// recognition, and the sampler and reporting threads. The process-wide state
// of the Agent lives here.
#include "agent/agent_window_win.h"
#include "agent/driver_table_win.h"
#include "agent/sampler.h"
#include "agent/startup.h"
#include "agent/transport.h"
#include "common/program_shell_win.h"
#include "gpu/nvapi_binding.h"

#include <windows.h>

#include <commctrl.h>

#include <thread>

namespace {

constexpr const wchar_t* kCaption = L"Kovra Gaugeline Agent";
constexpr const wchar_t* kMutexName = L"Kovra Gaugeline Agent.exe";

AgentState gAgent;
AgentWindow gMainWindow;
ReporterConfig gReporter;

void showMessage(void*, StartupMessage message) {
    MessageBoxW(nullptr, startupMessageText(message), kCaption, MB_OK);
}

bool fail(StartupMessage message, bool stopAgent) {
    showMessage(nullptr, message);
    if (stopAgent)
        gAgent.agentRunning.store(0, std::memory_order_relaxed);
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
    gMainWindow.instance = instance;
    gMainWindow.state = &gAgent;
    gMainWindow.onDestroy = unloadDriver;
    HWND window =
        createAgentWindow(gMainWindow, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
    if (!window)
        return fail(StartupMessage::WindowFailed, true);
    gMainWindow.window = window;
    RECT outer;
    GetWindowRect(window, &outer);

    gMainWindow.font = createUiFont();
    if (!gMainWindow.font)
        return fail(StartupMessage::FontFailed, false);

    if (!windowsVersionOk())
        return fail(StartupMessage::OldWindows, true);

    wchar_t directory[261] = {};
    GetCurrentDirectoryW(260, directory);
    OutputDebugStringW(directory);

    StartupHooks hooks;
    hooks.message = showMessage;
    if (!prepareGpus(gAgent, windowsDriverTable(), hooks))
        return false;

    std::thread([] { runSampler(gAgent, windowsDriverTable(), 1000); }).detach();
    gReporter.invalidate = invalidateAgentWindow;
    gReporter.invalidateContext = &gMainWindow;
    std::thread([] { runReporter(gAgent, gReporter); }).detach();

    ShowWindow(window, showCommand);
    UpdateWindow(window);
    return true;
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
    gAgent.agentRunning.store(1, std::memory_order_relaxed);
    HANDLE mutex = claimSingleInstance(kMutexName);
    if (!mutex)
        return 0;
    gMainWindow.mutex = mutex;
    gMainWindow.instance = instance;
    LoadStringW(instance, IDS_AGENT_TITLE, gMainWindow.title, 100);
    LoadStringW(instance, IDS_AGENT_CLASS, gMainWindow.className, 100);
    registerAgentClass(gMainWindow);

    if (!initInstance(instance, showCommand))
        return 0;

    return runMessageLoop(LoadAcceleratorsW(instance, MAKEINTRESOURCEW(IDR_AGENT_ACCELERATORS)));
}
