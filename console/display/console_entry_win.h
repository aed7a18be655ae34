// The Console program's start: single instance, window, worker threads,
// message loop.
#pragma once
#include "console/display/console_app_win.h"

#include <windows.h>

// The mutex that keeps the Console to one instance.
extern const wchar_t kConsoleMutexName[];

// Returns the process exit code: 0 on every early exit, else the quit code.
// tick is the update tick thread's body.
int runConsole(ConsoleApp& app, HINSTANCE instance, int showCommand, void (*tick)(ConsoleApp&));
