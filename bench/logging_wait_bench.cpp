// Wake-ups of the waiting logging thread per second of waiting (a figure, never judged).
#include "console/intake/logging/logger_wait.h"

#include <atomic>
#include <chrono>
#include <cstdio>

namespace {
std::atomic<int32_t> gWakeUps{0};
} // namespace

int main() {
    std::atomic<int32_t> appRunning{1}, csvLogging{1};
    const LogClockCallbacks system = systemLogClock();
    LogClockCallbacks counted = system;
    counted.sleepMs = [](void*, uint32_t ms) {
        gWakeUps.fetch_add(1);
        systemLogClock().sleepMs(nullptr, ms);
    };
    const auto start = std::chrono::steady_clock::now();
    waitForNextRow({&appRunning, &csvLogging}, 1000, system.nowMs(nullptr), counted);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("logging wait: %d wake-ups in %.3f s (%.1f per second)\n", gWakeUps.load(), seconds,
                gWakeUps.load() / seconds);
    return 0;
}
