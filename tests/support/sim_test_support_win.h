// Test support for programs that run with the simulated driver installed in the
// Wine prefix: scenario files, the sim's counters, paths of its DLLs.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

namespace simtest {
// Writes the scenario to a temporary file and names it in GAUGELINE_SIM_SCENARIO;
// a simulated driver (NvAPI or NVML) already loaded re-reads it and starts
// counting afresh.
void useScenario(const std::string& text);
void clearScenario();

std::wstring systemNvapiPath();                 // <system directory>\nvapi64.dll
std::wstring altNvapiPath();                    // the other-identity build, in the build tree
std::wstring buildSimPath(const wchar_t* file); // a file of the build's sim folder

// Counters of a loaded simulated DLL (0 when the module is not loaded).
uint32_t simCount(HMODULE module, const char* name);
uint32_t systemNvapiCount(const char* name);
bool systemNvapiLoaded();
} // namespace simtest
