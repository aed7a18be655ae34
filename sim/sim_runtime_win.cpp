#include "sim/sim_runtime_win.h"

#include <cstring>
#include <string>

SimRuntime gSimRuntime;

namespace {
bool readWholeFile(const std::string& path, std::string& text) {
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

uint64_t fileTimeValue(const FILETIME& t) {
    return (uint64_t{t.dwHighDateTime} << 32) | t.dwLowDateTime;
}
} // namespace

int loadSimScenario(SimRuntime& runtime) {
    char path[1024];
    DWORD length = GetEnvironmentVariableA("GAUGELINE_SIM_SCENARIO", path, sizeof path);
    runtime.scenarioFileRead = false;
    if (length == 0 || length >= sizeof path) {
        runtime.scenario = defaultScenario();
        return 0;
    }
    std::string text;
    if (!readWholeFile(path, text)) {
        runtime.scenario = defaultScenario();
        return -1;
    }
    runtime.scenario = parseScenario(text);
    runtime.scenarioFileRead = true;
    return static_cast<int>(runtime.scenario.errors.size());
}

void resetSimCounts(SimRuntime& runtime) {
    for (int i = 0; i < kSimFunctionCount; ++i) {
        runtime.calls[i].store(0);
        runtime.lookups[i].store(0);
    }
    runtime.otherLookups.store(0);
    runtime.badCookies.store(0);
}

double simSeconds(const SimRuntime& runtime) {
    if (runtime.scenario.fixedTime)
        return runtime.scenario.fixedSeconds;
    FILETIME created, exited, kernel, user, now;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user))
        return 0;
    GetSystemTimeAsFileTime(&now);
    uint64_t start = fileTimeValue(created), current = fileTimeValue(now);
    return current > start ? static_cast<double>(current - start) / 1e7 : 0;
}

bool simCallFails(SimRuntime& runtime, SimFunction function, int gpu, int selector, int32_t& status) {
    uint32_t pass = runtime.calls[static_cast<int>(function)].fetch_add(1) + 1;
    if (uint32_t ms = delayMs(runtime.scenario, function, gpu))
        Sleep(ms);
    return failStatus(runtime.scenario, function, gpu, selector, pass, status);
}

uint32_t simCount(const SimRuntime& runtime, const char* name) {
    if (!name)
        return 0;
    std::string text = name;
    if (text == "hook.badcookie")
        return runtime.badCookies.load();
    if (text == "lookup:other")
        return runtime.otherLookups.load();
    bool lookup = text.rfind("lookup:", 0) == 0;
    int function = findSimFunction(lookup ? text.substr(7) : text);
    if (function < 0)
        return 0;
    return lookup ? runtime.lookups[function].load() : runtime.calls[function].load();
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
