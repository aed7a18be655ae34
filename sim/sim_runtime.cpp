#include "sim/sim_runtime.h"

int loadSimScenario(SimRuntime& runtime) {
    std::string path, text;
    runtime.scenarioFileRead = false;
    if (!simScenarioPath(path)) {
        runtime.scenario = defaultScenario();
        return 0;
    }
    if (!readSimScenarioFile(path, text)) {
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
    return runtime.scenario.fixedTime ? runtime.scenario.fixedSeconds : simClockSeconds();
}

bool simCallFails(SimRuntime& runtime, SimFunction function, int gpu, int selector, int32_t& status) {
    uint32_t pass = runtime.calls[static_cast<int>(function)].fetch_add(1) + 1;
    if (uint32_t ms = delayMs(runtime.scenario, function, gpu))
        simSleepSeconds(ms / 1000.0);
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
