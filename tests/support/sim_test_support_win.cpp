#include "tests/support/sim_test_support_win.h"

#include <cstdio>

namespace simtest {
namespace {
void reloadIfLoaded(const std::wstring& path) {
    HMODULE module = GetModuleHandleW(path.c_str());
    if (!module)
        return;
    auto reload =
        reinterpret_cast<int (*)()>(reinterpret_cast<void*>(GetProcAddress(module, "gaugelineSimReload")));
    auto reset = reinterpret_cast<void (*)()>(
        reinterpret_cast<void*>(GetProcAddress(module, "gaugelineSimResetCounts")));
    if (reload)
        reload();
    if (reset)
        reset();
}
} // namespace

void useScenario(const std::string& text) {
    wchar_t directory[MAX_PATH];
    GetTempPathW(MAX_PATH, directory);
    std::wstring path =
        std::wstring(directory) + L"gaugeline-" + std::to_wstring(GetCurrentProcessId()) + L".scenario";
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_TEMPORARY, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        CloseHandle(file);
    }
    SetEnvironmentVariableW(L"GAUGELINE_SIM_SCENARIO", path.c_str());
    reloadIfLoaded(systemNvapiPath());
    reloadIfLoaded(altNvapiPath());
    reloadIfLoaded(L"nvml.dll");
}

void clearScenario() {
    SetEnvironmentVariableW(L"GAUGELINE_SIM_SCENARIO", nullptr);
}

std::wstring systemNvapiPath() {
    wchar_t directory[MAX_PATH];
    UINT length = GetSystemDirectoryW(directory, MAX_PATH);
    return std::wstring(directory, length) + L"\\nvapi64.dll";
}

std::wstring buildSimPath(const wchar_t* file) {
    const std::string directory = GAUGELINE_SIM_DIR_UNIX;
    std::wstring path = L"Z:" + std::wstring(directory.begin(), directory.end()) + L"/" + file;
    for (wchar_t& c : path) {
        if (c == L'/')
            c = L'\\';
    }
    return path;
}

std::wstring altNvapiPath() {
    return buildSimPath(L"alt/nvapi64.dll");
}

uint32_t simCount(HMODULE module, const char* name) {
    if (!module)
        return 0;
    auto count = reinterpret_cast<uint32_t (*)(const char*)>(
        reinterpret_cast<void*>(GetProcAddress(module, "gaugelineSimCallCount")));
    return count ? count(name) : 0;
}

uint32_t systemNvapiCount(const char* name) {
    return simCount(GetModuleHandleW(systemNvapiPath().c_str()), name);
}

bool systemNvapiLoaded() {
    return GetModuleHandleW(systemNvapiPath().c_str()) != nullptr;
}
} // namespace simtest
