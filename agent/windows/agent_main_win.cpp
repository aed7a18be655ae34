// Entry of the Agent program: single instance, window, start-up checks, GPU
// recognition, and the sampler and reporting threads; or, asked for, the
// service commands and the run under the service manager (service_win.*).
// The process-wide state of the Agent lives here.
#include "agent/core/fleet_options.h"
#include "agent/core/reporter.h"
#include "agent/windows/agent_window_win.h"
#include "agent/windows/command_line_win.h"
#include "agent/windows/driver_table_win.h"
#include "agent/windows/sampler.h"
#include "agent/windows/service.h"
#include "agent/windows/service_win.h"
#include "agent/windows/startup.h"
#include "common/program_shell_win.h"
#include "gpu/nvapi_binding.h"
#include "metrics/metrics_server.h"

#include <windows.h>

#include <commctrl.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr const wchar_t* kCaption = L"Kovra Gaugeline Agent";
constexpr const wchar_t* kMutexName = L"Kovra Gaugeline Agent.exe";

AgentState gAgent;
NvapiGpus gGpus;
AgentWindow gMainWindow;
ReporterConfig gReporter;
FleetOptions gFleet;
FleetMetrics gMetrics;
ServiceCommand gService = ServiceCommand::None;
std::vector<std::string> gOptions;

// Under the service manager there is no one to show a box to: the words go
// to the event log. The service commands print theirs.
void showWide(const wchar_t* text, uint32_t serviceExitCode) {
    if (gService == ServiceCommand::Run)
        noteServiceText(serviceExitCode, text);
    else if (gService != ServiceCommand::None)
        sayToUser(text);
    else
        MessageBoxW(nullptr, text, kCaption, MB_OK);
}

void showText(const char* text, uint32_t serviceExitCode = kServiceExitOptions) {
    wchar_t wide[512];
    MultiByteToWideChar(CP_UTF8, 0, text, -1, wide, 512);
    wide[511] = L'\0';
    showWide(wide, serviceExitCode);
}

// The Agent has no options of its own: one on the command line is an error
// (shown, and the program ends) rather than something silently ignored.
OwnOption unknownOption(void*, const char* option, const char*) {
    char message[320];
    std::snprintf(message, sizeof message, "unknown option \"%.60s\"\nusage: KovraGaugelineAgent.exe %s",
                  option, kFleetUsage);
    showText(message);
    return OwnOption::Bad;
}

bool readCommandLine() {
    std::vector<std::string> args;
    if (!utf8Arguments(GetCommandLineW(), &args))
        return true;
    gService = takeServiceCommand(&args);
    gOptions = args;
    std::vector<const char*> texts;
    for (const std::string& arg : args)
        texts.push_back(arg.c_str());
    CommandLineCallbacks callbacks;
    callbacks.own = unknownOption;
    char message[320];
    if (readCommandLine(static_cast<int>(texts.size()), texts.data(), gFleet, callbacks, message,
                        sizeof message) == CommandLineRead::Run)
        return true;
    if (message[0])
        showText(message);
    return false;
}

// The metrics endpoint, when asked for: its listener is taken here so that a
// port in use is said at start, and the window names where it serves.
bool startMetrics(const std::atomic<bool>* stop) {
    FleetMetricsStart start = openFleetMetrics(gFleet, stop, &gMetrics);
    if (start == FleetMetricsStart::NotAsked)
        return true;
    if (start == FleetMetricsStart::PortUnavailable) {
        char message[160];
        std::snprintf(
            message, sizeof message,
            "cannot listen for metrics on %s:%u: the port is in use or the address is not this PC's",
            gFleet.metricsAddress, static_cast<unsigned>(gFleet.metricsPort));
        showText(message, kServiceExitMetricsPort);
        return false;
    }
    char status[80];
    std::snprintf(status, sizeof status, "metrics: %s", gMetrics.url);
    MultiByteToWideChar(CP_UTF8, 0, status, -1, gMainWindow.status, 80);
    std::thread([] { runMetricsServer(gAgent, gMetrics.config, gMetrics.listener); }).detach();
    return true;
}

void showMessage(void*, StartupMessage message) {
    showWide(startupMessageText(message), serviceExitCode(message));
}

bool fail(StartupMessage message, bool stopAgent) {
    showMessage(nullptr, message);
    if (stopAgent)
        stopSampler(gAgent);
    return false;
}

void unloadDriver(void*) {
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

bool startAgent(const std::atomic<bool>* stop);

bool initInstance(HINSTANCE instance, int showCommand) {
    InitCommonControls();
    gMainWindow.instance = instance;
    gMainWindow.state = &gAgent;
    gMainWindow.callbacks.destroyed = unloadDriver;
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
    if (!startAgent(nullptr))
        return false;
    ShowWindow(window, showCommand);
    UpdateWindow(window);
    return true;
}

// The start-up after the window, and the service's whole start-up: the
// threads end once *stop is set (never when it is null).
bool startAgent(const std::atomic<bool>* stop) {
    if (!windowsVersionOk())
        return fail(StartupMessage::OldWindows, true);

    wchar_t directory[261] = {};
    GetCurrentDirectoryW(260, directory);
    OutputDebugStringW(directory);

    StartupCallbacks callbacks;
    callbacks.message = showMessage;
    if (!startSampler(gAgent, gGpus, windowsDriverTable(), callbacks))
        return false;

    if (!startMetrics(stop)) {
        stopSampler(gAgent);
        return false;
    }
    std::thread([] { runSampler(gAgent, gGpus, windowsDriverTable(), 1000); }).detach();
    gReporter.allow = &gFleet.allow;
    gReporter.stop = stop;
    gReporter.callbacks.context = &gMainWindow;
    gReporter.callbacks.invalidate = invalidateAgentWindow;
    std::thread([] { runReporter(gAgent, gReporter); }).detach();
    return true;
}

bool startService(void* optionsRead, const std::atomic<bool>* stop) {
    return *static_cast<bool*>(optionsRead) && startAgent(stop);
}

int runServiceCommand(bool optionsRead) {
    if (gService == ServiceCommand::Run) {
        ServiceCallbacks callbacks;
        callbacks.context = &optionsRead;
        callbacks.start = startService;
        return runAgentService(callbacks);
    }
    if (!optionsRead)
        return 2;
    return gService == ServiceCommand::Install ? installAgentService(gOptions) : uninstallAgentService();
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
    gAgent.agentRunning.store(1, std::memory_order_relaxed);
    bool optionsRead = readCommandLine();
    gAgent.readProcesses.store(gFleet.processes);
    if (gService != ServiceCommand::None)
        return runServiceCommand(optionsRead);
    if (!optionsRead)
        return 2;
    if (sayWhenServiceRuns())
        return 0;
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
