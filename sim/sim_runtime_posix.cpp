// The native side of the simulated NVML: the scenario file named by the
// environment, read when the library is loaded; the clock starts then.
#include "sim/sim_runtime.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <unistd.h>

// Built before the loading constructor below, which fills it.
SimRuntime gSimRuntime __attribute__((init_priority(101)));

namespace {
timespec gLoaded{};

double monotonicSeconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

__attribute__((constructor(102))) void loadOnOpen() {
    clock_gettime(CLOCK_MONOTONIC, &gLoaded);
    loadSimScenario(gSimRuntime);
}
} // namespace

bool simScenarioPath(std::string& path) {
    const char* value = std::getenv("GAUGELINE_SIM_SCENARIO");
    if (!value || !*value)
        return false;
    path = value;
    return true;
}

bool readSimScenarioFile(const std::string& path, std::string& text) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return false;
    text.clear();
    char buffer[4096];
    bool ok = true;
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
        text.append(buffer, got);
        if (text.size() > (1u << 20)) { // no scenario is that long
            ok = false;
            break;
        }
    }
    if (std::ferror(file))
        ok = false;
    std::fclose(file);
    return ok;
}

double simClockSeconds() {
    double loaded = static_cast<double>(gLoaded.tv_sec) + static_cast<double>(gLoaded.tv_nsec) / 1e9;
    double now = monotonicSeconds();
    return now > loaded ? now - loaded : 0;
}

uint32_t simProcessId() {
    return static_cast<uint32_t>(getpid());
}

void simSleepSeconds(double seconds) {
    if (seconds <= 0)
        return;
    timespec wait{};
    wait.tv_sec = static_cast<time_t>(seconds);
    wait.tv_nsec = static_cast<long>((seconds - static_cast<double>(wait.tv_sec)) * 1e9);
    while (nanosleep(&wait, &wait) != 0 && errno == EINTR) {
    }
}
