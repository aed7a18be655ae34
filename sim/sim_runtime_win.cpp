#include "sim/sim_runtime_win.h"

#include <cstring>
#include <string>

SimRuntime gSimRuntime;

namespace {
uint64_t fileTimeValue(const FILETIME& t) {
    return (uint64_t{t.dwHighDateTime} << 32) | t.dwLowDateTime;
}
} // namespace

bool readSimScenarioFile(const std::string& path, std::string& text) {
    std::string windowsPath = scenarioPathForWindows(path);
    HANDLE file = CreateFileA(windowsPath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    text.clear();
    char buffer[4096];
    DWORD got = 0;
    bool ok = true;
    while (true) {
        if (!ReadFile(file, buffer, sizeof buffer, &got, nullptr)) {
            ok = false;
            break;
        }
        if (got == 0)
            break;
        text.append(buffer, got);
        if (text.size() > (1u << 20)) { // no scenario is that long
            ok = false;
            break;
        }
    }
    CloseHandle(file);
    return ok;
}

bool simScenarioPath(std::string& path) {
    char buffer[1024];
    DWORD length = GetEnvironmentVariableA("GAUGELINE_SIM_SCENARIO", buffer, sizeof buffer);
    if (length == 0 || length >= sizeof buffer)
        return false;
    path = buffer;
    return true;
}

double simClockSeconds() {
    // The process's start is asked once: each GetProcessTimes is a round trip
    // to the Wine server, which a real driver's readings do not cost.
    static const uint64_t start = [] {
        FILETIME created, exited, kernel, user;
        return GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)
                   ? fileTimeValue(created)
                   : 0;
    }();
    if (start == 0)
        return 0;
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    uint64_t current = fileTimeValue(now);
    return current > start ? static_cast<double>(current - start) / 1e7 : 0;
}

uint32_t simProcessId() {
    return GetCurrentProcessId();
}

void simSleepSeconds(double seconds) {
    Sleep(static_cast<DWORD>(seconds * 1000 + 0.999));
}

bool hideExport(HMODULE module, const char* name) {
    auto* base = reinterpret_cast<uint8_t*>(module);
    auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    if (dir.VirtualAddress == 0)
        return false;
    auto* exports = reinterpret_cast<IMAGE_EXPORT_DIRECTORY*>(base + dir.VirtualAddress);
    auto* names = reinterpret_cast<DWORD*>(base + exports->AddressOfNames);
    auto* ordinals = reinterpret_cast<WORD*>(base + exports->AddressOfNameOrdinals);
    auto* functions = reinterpret_cast<DWORD*>(base + exports->AddressOfFunctions);
    for (DWORD i = 0; i < exports->NumberOfNames; ++i) {
        if (std::strcmp(reinterpret_cast<const char*>(base + names[i]), name) != 0)
            continue;
        DWORD* slot = &functions[ordinals[i]];
        DWORD old;
        if (!VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &old))
            return false;
        *slot = 0;
        VirtualProtect(slot, sizeof *slot, old, &old);
        return true;
    }
    return false;
}

void hideOmittedExports(HMODULE module, const SimRuntime& runtime, bool nvml) {
    for (int f = 0; f < kSimFunctionCount; ++f) {
        bool export_ = kSimFunctions[f].nvml
                           ? nvml
                           : (!nvml && f == static_cast<int>(SimFunction::QueryInterfaceExport));
        if (export_ && runtime.scenario.omitted[f])
            hideExport(module, kSimFunctions[f].name);
    }
}
