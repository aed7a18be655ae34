#include "agent/windows/service_win.h"

#include "agent/windows/service.h"
#include "agent_events.h"

#include <cstring>
#include <mutex>

static_assert(kEventStartupFailed == MSG_STARTUP_FAILED, "the message table numbers the entries");
static_assert(kEventStartupWarning == MSG_STARTUP_WARNING, "the message table numbers the entries");

EventLogCalls gEventLog;

namespace {

constexpr const wchar_t* kServiceName = L"KovraGaugelineAgent";
constexpr const wchar_t* kDisplayName = L"Kovra Gaugeline Agent";
constexpr const wchar_t* kEventSource = L"Kovra Gaugeline Agent";
constexpr const wchar_t* kEventSourceKey =
    L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Kovra Gaugeline Agent";
// Stop and shutdown end the service within this.
constexpr DWORD kStopWaitHintMs = 2000;
// The reporting thread and the endpoint see the stop flag within a quarter
// of a second and close their sockets; the process then ends.
constexpr DWORD kCloseWaitMs = 300;
// Start-up may wait on the driver.
constexpr DWORD kStartWaitHintMs = 30000;
// How long the uninstaller waits for the service to stop.
constexpr int kStopPolls = 100;

// ServiceMain and the control handler are called by the service manager
// with no context of the program's own: the run is process-wide.
struct ServiceRun {
    ServiceCallbacks callbacks;
    SERVICE_STATUS_HANDLE handle = nullptr;
    SERVICE_STATUS status = {};
    std::mutex statusLock;
    HANDLE stopEvent = nullptr;
    std::atomic<bool> stop{false};
    uint32_t exitCode = 0;
    std::wstring texts;
    int processExit = 0;
};
ServiceRun gRun;

std::wstring wide(const std::string& text) {
    int chars = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    std::wstring out(chars > 0 ? static_cast<size_t>(chars) : 1, L'\0');
    if (chars > 0)
        MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, &out[0], chars);
    out.resize(out.size() - 1);
    return out;
}

std::string utf8(const wchar_t* text) {
    int bytes = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(bytes > 0 ? static_cast<size_t>(bytes) : 1, '\0');
    if (bytes > 0)
        WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], bytes, nullptr, nullptr);
    out.resize(out.size() - 1);
    return out;
}

void say(const std::string& text) {
    sayToUser(wide(text).c_str());
}

// Wine's service manager, and Windows' while another program changes a
// service, can answer "database locked" for a moment.
template <typename Call> auto unlessLocked(Call call) -> decltype(call()) {
    for (int attempt = 0;; ++attempt) {
        auto result = call();
        if (result || GetLastError() != ERROR_SERVICE_DATABASE_LOCKED || attempt == 20)
            return result;
        Sleep(250);
    }
}

SC_HANDLE openManager(DWORD access) {
    return unlessLocked([access] { return OpenSCManagerW(nullptr, nullptr, access); });
}

int failed(ServiceStep step, DWORD error, const char* after = "") {
    char text[256];
    serviceFailureText(step, error, text, sizeof text);
    say(std::string(text) + after);
    return 1;
}

// Restart after 5 s, again after 5 s, then every minute; a start-up that
// ends with an exit code counts as a failure too (SERVICE_FAILURE_ACTIONS and
// SERVICE_FAILURE_ACTIONS_FLAG, learn.microsoft.com/windows/win32/api/winsvc).
// Wine keeps these settings but does not restart a failed service: only
// Windows shows the restarts.
bool configure(SC_HANDLE service) {
    wchar_t text[] = L"Reports this PC's NVIDIA GPUs to Kovra Gaugeline Consoles (TCP port 58680) and, "
                     L"when installed with --metrics-listen, to Prometheus.";
    SERVICE_DESCRIPTIONW description = {text};
    if (!ChangeServiceConfig2W(service, SERVICE_CONFIG_DESCRIPTION, &description))
        return false;
    SC_ACTION actions[3] = {{SC_ACTION_RESTART, 5000}, {SC_ACTION_RESTART, 5000}, {SC_ACTION_RESTART, 60000}};
    SERVICE_FAILURE_ACTIONSW failure = {};
    failure.dwResetPeriod = 24 * 60 * 60;
    failure.cActions = 3;
    failure.lpsaActions = actions;
    if (!ChangeServiceConfig2W(service, SERVICE_CONFIG_FAILURE_ACTIONS, &failure))
        return false;
    // Wine does not know this setting (ERROR_INVALID_LEVEL); Windows has it since Vista.
    SERVICE_FAILURE_ACTIONS_FLAG flag = {TRUE};
    return ChangeServiceConfig2W(service, SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, &flag) ||
           GetLastError() == ERROR_INVALID_LEVEL;
}

// The event source names the program itself as its message file, so that
// Event Viewer shows the words of the message table built into it
// ("Event Sources", learn.microsoft.com/windows/win32/eventlog/event-sources).
LONG registerEventSource(const wchar_t* program) {
    HKEY key = nullptr;
    LONG error = RegCreateKeyExW(HKEY_LOCAL_MACHINE, kEventSourceKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                                 &key, nullptr);
    if (error != ERROR_SUCCESS)
        return error;
    DWORD types = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;
    error = RegSetValueExW(key, L"EventMessageFile", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(program),
                           static_cast<DWORD>((wcslen(program) + 1) * sizeof(wchar_t)));
    if (error == ERROR_SUCCESS)
        error = RegSetValueExW(key, L"TypesSupported", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&types),
                               sizeof types);
    RegCloseKey(key);
    return error;
}

void writeTo(HANDLE out, const wchar_t* text) {
    DWORD mode = 0;
    DWORD written = 0;
    if (GetConsoleMode(out, &mode)) {
        WriteConsoleW(out, text, static_cast<DWORD>(wcslen(text)), &written, nullptr);
        WriteConsoleW(out, L"\r\n", 2, &written, nullptr);
        return;
    }
    std::string bytes = utf8(text) + "\r\n";
    WriteFile(out, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

void setState(DWORD state, DWORD waitHint) {
    std::lock_guard<std::mutex> lock(gRun.statusLock);
    gRun.status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    gRun.status.dwCurrentState = state;
    gRun.status.dwControlsAccepted =
        state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
    gRun.status.dwWaitHint = waitHint;
    gRun.status.dwCheckPoint = waitHint ? gRun.status.dwCheckPoint + 1 : 0;
    SetServiceStatus(gRun.handle, &gRun.status);
}

DWORD WINAPI control(DWORD code, DWORD, void*, void*) {
    switch (code) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
        setState(SERVICE_STOP_PENDING, kStopWaitHintMs);
        SetEvent(gRun.stopEvent);
        return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
        return NO_ERROR;
    default:
        return ERROR_CALL_NOT_IMPLEMENTED;
    }
}

// Runs as LocalSystem in session 0, with no desktop to show anything on
// ("Service User Accounts", "Interactive Services",
// learn.microsoft.com/windows/win32/services): every word goes to the event
// log. Wine has neither the account nor the session: only Windows shows them.
void WINAPI serviceMain(DWORD, LPWSTR*) {
    gRun.handle = RegisterServiceCtrlHandlerExW(kServiceName, control, nullptr);
    if (!gRun.handle)
        return;
    setState(SERVICE_START_PENDING, kStartWaitHintMs);
    if (!gRun.callbacks.start || !gRun.callbacks.start(gRun.callbacks.context, &gRun.stop)) {
        gRun.stop.store(true);
        reportServiceTexts(true);
        gRun.status.dwWin32ExitCode = ERROR_SERVICE_SPECIFIC_ERROR;
        gRun.status.dwServiceSpecificExitCode = gRun.exitCode;
        gRun.processExit = 1;
        setState(SERVICE_STOPPED, 0);
        return;
    }
    reportServiceTexts(false);
    setState(SERVICE_RUNNING, 0);
    WaitForSingleObject(gRun.stopEvent, INFINITE);
    gRun.stop.store(true);
    Sleep(kCloseWaitMs);
    setState(SERVICE_STOPPED, 0);
}

} // namespace

void sayToUser(const wchar_t* text) {
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (out && out != INVALID_HANDLE_VALUE && GetFileType(out) != FILE_TYPE_UNKNOWN) {
        writeTo(out, text);
        return;
    }
    if (AttachConsole(ATTACH_PARENT_PROCESS)) {
        HANDLE console =
            CreateFileW(L"CONOUT$", GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
        if (console != INVALID_HANDLE_VALUE) {
            writeTo(console, text);
            CloseHandle(console);
            FreeConsole();
            return;
        }
        FreeConsole();
    }
    MessageBoxW(nullptr, text, kDisplayName, MB_OK);
}

int installAgentService(const std::vector<std::string>& options) {
    wchar_t program[MAX_PATH + 1] = {};
    DWORD length = GetModuleFileNameW(nullptr, program, MAX_PATH + 1);
    if (length == 0 || length > MAX_PATH) {
        say("cannot find this program's own path");
        return 1;
    }
    std::string line = serviceCommandLine(utf8(program), options);
    std::wstring command = wide(line);
    SC_HANDLE manager = openManager(SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE);
    if (!manager)
        return failed(ServiceStep::OpenManager, GetLastError());
    SC_HANDLE service = unlessLocked([&] {
        return CreateServiceW(manager, kServiceName, kDisplayName, SERVICE_CHANGE_CONFIG | DELETE,
                              SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                              command.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr);
    });
    if (!service) {
        DWORD error = GetLastError();
        CloseServiceHandle(manager);
        return failed(ServiceStep::Create, error);
    }
    DWORD error = ERROR_SUCCESS;
    ServiceStep step = ServiceStep::Configure;
    if (!configure(service)) {
        error = GetLastError();
    } else {
        step = ServiceStep::EventSource;
        error = static_cast<DWORD>(registerEventSource(program));
    }
    if (error != ERROR_SUCCESS)
        DeleteService(service);
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    if (error != ERROR_SUCCESS)
        return failed(step, error, "; the service was removed again: nothing installed");
    say("installed the service KovraGaugelineAgent (\"Kovra Gaugeline Agent\"): automatic start as "
        "LocalSystem, restarted on failure, event source \"Kovra Gaugeline Agent\"; it runs " +
        line + "\nstart it now with: net start KovraGaugelineAgent");
    return 0;
}

int uninstallAgentService() {
    SC_HANDLE manager = openManager(SC_MANAGER_CONNECT);
    if (!manager)
        return failed(ServiceStep::OpenManager, GetLastError());
    SC_HANDLE service = unlessLocked(
        [&] { return OpenServiceW(manager, kServiceName, SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE); });
    if (!service) {
        DWORD error = GetLastError();
        CloseServiceHandle(manager);
        return failed(ServiceStep::Open, error);
    }
    SERVICE_STATUS status = {};
    bool stopped = QueryServiceStatus(service, &status) && status.dwCurrentState == SERVICE_STOPPED;
    if (!stopped && !ControlService(service, SERVICE_CONTROL_STOP, &status) &&
        GetLastError() != ERROR_SERVICE_NOT_ACTIVE) {
        DWORD error = GetLastError();
        CloseServiceHandle(service);
        CloseServiceHandle(manager);
        return failed(ServiceStep::Stop, error, "; nothing removed");
    }
    for (int i = 0; i < kStopPolls && !stopped; ++i) {
        stopped = QueryServiceStatus(service, &status) && status.dwCurrentState == SERVICE_STOPPED;
        if (!stopped)
            Sleep(100);
    }
    BOOL deleted = unlessLocked([&] { return DeleteService(service); });
    DWORD error = GetLastError();
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    if (!deleted)
        return failed(ServiceStep::Delete, error);
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, kEventSourceKey);
    say(stopped ? "stopped and removed the service KovraGaugelineAgent and its event source"
                : "removed the service KovraGaugelineAgent and its event source; it had not stopped "
                  "within 10 s and goes once it ends");
    return 0;
}

// The service manager is asked, not the single-instance mutex: on Windows
// that mutex is per session and the service runs in session 0, so the
// windowed Agent's session cannot see it ("Kernel Object Namespaces",
// learn.microsoft.com/windows/win32/termserv). Wine has no sessions and
// would hide this.
bool sayWhenServiceRuns() {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (!manager)
        return false;
    SC_HANDLE service = OpenServiceW(manager, kServiceName, SERVICE_QUERY_STATUS);
    SERVICE_STATUS_PROCESS status = {};
    DWORD needed = 0;
    bool running =
        service &&
        QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status), sizeof status,
                             &needed) &&
        (status.dwCurrentState == SERVICE_RUNNING || status.dwCurrentState == SERVICE_START_PENDING);
    if (service)
        CloseServiceHandle(service);
    CloseServiceHandle(manager);
    if (running)
        say("the Kovra Gaugeline Agent service is running on this PC and already reports its GPUs; "
            "this window is not started (stop the service first: net stop KovraGaugelineAgent)");
    return running;
}

int runAgentService(const ServiceCallbacks& callbacks) {
    gRun.callbacks = callbacks;
    gRun.stopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    wchar_t name[] = L"KovraGaugelineAgent";
    SERVICE_TABLE_ENTRYW table[] = {{name, serviceMain}, {nullptr, nullptr}};
    if (!StartServiceCtrlDispatcherW(table)) {
        say("--service is for the service manager; install the service with --install-service");
        return 2;
    }
    return gRun.processExit;
}

void noteServiceText(uint32_t exitCode, const wchar_t* text) {
    gRun.exitCode = exitCode;
    if (!gRun.texts.empty())
        gRun.texts += L"\r\n";
    gRun.texts += text;
}

// Wine accepts these calls and stores nothing: only Windows' Event Viewer shows the entries.
void reportServiceTexts(bool startupFailed) {
    if (gRun.texts.empty())
        return;
    HANDLE log = gEventLog.registerSource(nullptr, kEventSource);
    if (!log)
        return;
    LPCWSTR texts[1] = {gRun.texts.c_str()};
    gEventLog.report(log, startupFailed ? EVENTLOG_ERROR_TYPE : EVENTLOG_WARNING_TYPE, 0,
                     startupFailed ? kEventStartupFailed : kEventStartupWarning, nullptr, 1, 0, texts,
                     nullptr);
    gEventLog.deregister(log);
}
