// The Agent as a Windows service: installing and removing it, running under
// the service manager without a window, and telling the windowed Agent that
// the service already runs.
#pragma once
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

// Prints a line where the user can read it: standard output when there is
// one, else the console the program was started from, else a message box.
void sayToUser(const wchar_t* text);

// Registers the service with these (already checked) options as its
// command line, and its event source; prints what it did. The exit code: 0
// when installed, 1 when not (nothing is left registered then).
int installAgentService(const std::vector<std::string>& options);
// Stops and removes the service and its event source; prints what it did.
int uninstallAgentService();

// The windowed Agent's check before it starts: true, after saying so, when
// the service is running or starting (the two would fight over port 58680).
bool sayWhenServiceRuns();

struct ServiceCallbacks {
    void* context = nullptr;
    // The Agent's start-up without its window; its threads end once *stop is
    // set. False: start-up failed, and noteServiceText has had its words.
    bool (*start)(void* context, const std::atomic<bool>* stop) = nullptr;
};

// Hands the process to the service manager (StartServiceCtrlDispatcherW)
// and returns the process's exit code once the service has stopped.
int runAgentService(const ServiceCallbacks& callbacks);

// What the windowed Agent would show, said while running as a service: kept
// for the event log, with exitCode for the service manager should start-up fail.
void noteServiceText(uint32_t exitCode, const wchar_t* text);

// The event log calls, a seam for tests: under Wine ReportEventW stores nothing.
struct EventLogCalls {
    HANDLE(WINAPI* registerSource)(LPCWSTR server, LPCWSTR source) = RegisterEventSourceW;
    BOOL(WINAPI* report)
    (HANDLE log, WORD type, WORD category, DWORD id, PSID user, WORD strings, DWORD dataSize, LPCWSTR* texts,
     LPVOID data) = ReportEventW;
    BOOL(WINAPI* deregister)(HANDLE log) = DeregisterEventSource;
};
extern EventLogCalls gEventLog;

// Writes the words kept by noteServiceText to the event log: one error entry
// when start-up failed, else a warning entry; nothing when there are none.
void reportServiceTexts(bool startupFailed);
