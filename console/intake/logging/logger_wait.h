// How the logging thread waits for its next row: in short sleeps, looking at
// the run flags after every one, so that unchecking the box or the end of the
// program stops it within one step and the waiting costs no CPU.
#pragma once
#include <atomic>
#include <cstdint>

constexpr uint32_t kLogWaitStepMs = 50;

// Millisecond clock and sleep; tests give a fake pair.
struct LogClockCallbacks {
    void* context = nullptr;
    uint32_t (*nowMs)(void* context) = nullptr;
    void (*sleepMs)(void* context, uint32_t ms) = nullptr;
};

// A steady clock and std::this_thread::sleep_for.
LogClockCallbacks systemLogClock();

enum class LogWaitOutcome {
    RowDue,     // intervalMs have passed since startMs; logging still on
    LoggingOff, // csvLogging read 0
    AppEnded,   // appRunning read 0
    RunOver,    // csvRun no longer holds run: a newer run has started
};

struct LogWaitFlags {
    const std::atomic<int32_t>* appRunning;
    const std::atomic<int32_t>* csvLogging;
    const std::atomic<int32_t>* csvRun = nullptr; // nullptr: never over
    int32_t run = 0;
};

// Waits until intervalMs milliseconds have passed since startMs (a reading of
// clock.nowMs taken after the previous row). Looks at appRunning, csvLogging
// and csvRun before every sleep; sleeps at most stepMs at a time and never
// past the moment the row is due. Negative intervals count as 0.
LogWaitOutcome waitForNextRow(const LogWaitFlags& flags, int32_t intervalMs, uint32_t startMs,
                              const LogClockCallbacks& clock, uint32_t stepMs = kLogWaitStepMs);
