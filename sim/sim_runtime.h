// What every simulated driver library shares: the scenario named by the
// environment, the clock the readings follow, call counters and the per-call
// rules. The platform parts (sim_runtime_win.cpp, sim_runtime_posix.cpp) find
// and read the file, keep the clock and sleep.
#pragma once
#include "sim/scenario.h"

#include <atomic>
#include <string>

struct SimRuntime {
    Scenario scenario;
    bool scenarioFileRead = false; // false: no file named, or it could not be read
    std::atomic<uint32_t> calls[kSimFunctionCount];
    std::atomic<uint32_t> lookups[kSimFunctionCount];
    std::atomic<uint32_t> otherLookups{0};
    std::atomic<uint32_t> badCookies{0};
};
extern SimRuntime gSimRuntime; // one per library

// Reads the scenario named by GAUGELINE_SIM_SCENARIO (default scenario when unset).
// Returns the number of lines that could not be understood, -1 for an unreadable file.
int loadSimScenario(SimRuntime& runtime);
void resetSimCounts(SimRuntime& runtime);

// Seconds on the library's clock, or the scenario's fixed time.
double simSeconds(const SimRuntime& runtime);

// Counts the call, waits its delay, and gives true with the status when a fail
// rule applies to this pass.
bool simCallFails(SimRuntime& runtime, SimFunction function, int gpu, int selector, int32_t& status);

// Counter lookup by function name or hex id, or the names "lookup:<function>",
// "hook.badcookie" and "lookup:other".
uint32_t simCount(const SimRuntime& runtime, const char* name);

// Platform parts.
bool simScenarioPath(std::string& path); // false when the variable is unset
bool readSimScenarioFile(const std::string& path, std::string& text);
double simClockSeconds(); // since the process started (Windows) or the library was loaded
void simSleepSeconds(double seconds);
uint32_t simProcessId(); // of the process that loaded the library

// The test exports every simulated library carries: call counts, their reset
// and a scenario reload. EXPORT is the library's export prefix.
#define GAUGELINE_SIM_TEST_EXPORTS(EXPORT)                                                                   \
    EXPORT uint32_t gaugelineSimCallCount(const char* name) {                                                \
        return simCount(gSimRuntime, name);                                                                  \
    }                                                                                                        \
    EXPORT void gaugelineSimResetCounts() {                                                                  \
        resetSimCounts(gSimRuntime);                                                                         \
    }                                                                                                        \
    EXPORT int gaugelineSimReload() {                                                                        \
        return loadSimScenario(gSimRuntime);                                                                 \
    }
