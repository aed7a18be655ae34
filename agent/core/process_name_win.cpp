// Windows tells a process's image file; its name (UTF-8) is the process's name.
#include "agent/core/gpu_health.h"

#include <windows.h>

void processName(uint32_t pid, char* name, size_t size) {
    if (size == 0)
        return;
    name[0] = '\0';
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (!process)
        return;
    wchar_t path[MAX_PATH];
    DWORD length = MAX_PATH;
    if (QueryFullProcessImageNameW(process, 0, path, &length)) {
        const wchar_t* base = path;
        for (const wchar_t* c = path; *c; ++c)
            if (*c == L'\\' || *c == L'/')
                base = c + 1;
        if (WideCharToMultiByte(CP_UTF8, 0, base, -1, name, static_cast<int>(size), nullptr, nullptr) == 0)
            name[0] = '\0';
    }
    CloseHandle(process);
}
