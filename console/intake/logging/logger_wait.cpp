#include "console/intake/logging/logger_wait.h"

#include <chrono>
#include <thread>

namespace {

uint32_t steadyNowMs(void*) {
    using namespace std::chrono;
    return static_cast<uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void threadSleepMs(void*, uint32_t ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

} // namespace

LogClockCallbacks systemLogClock() {
    LogClockCallbacks clock;
    clock.nowMs = steadyNowMs;
    clock.sleepMs = threadSleepMs;
    return clock;
}

LogWaitOutcome waitForNextRow(const LogWaitFlags& flags, int32_t intervalMs, uint32_t startMs,
                              const LogClockCallbacks& clock, uint32_t stepMs) {
    const uint32_t interval = intervalMs > 0 ? static_cast<uint32_t>(intervalMs) : 0;
    if (stepMs == 0)
        stepMs = 1;
    for (;;) {
        if (flags.appRunning->load(std::memory_order_relaxed) == 0)
            return LogWaitOutcome::AppEnded;
        if (flags.csvLogging->load(std::memory_order_acquire) == 0)
            return LogWaitOutcome::LoggingOff;
        if (flags.csvRun && flags.csvRun->load(std::memory_order_relaxed) != flags.run)
            return LogWaitOutcome::RunOver;
        // Unsigned difference: correct across the 32-bit wrap of the clock.
        const uint32_t elapsed = clock.nowMs(clock.context) - startMs;
        if (elapsed >= interval)
            return LogWaitOutcome::RowDue;
        const uint32_t left = interval - elapsed;
        clock.sleepMs(clock.context, left < stepMs ? left : stepMs);
    }
}
