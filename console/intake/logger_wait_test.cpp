#include "console/intake/logger_wait.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

namespace {

// A clock that moves only when slept on; an action can fire at a chosen time.
struct FakeClock {
    uint32_t now = 0;
    std::vector<uint32_t> sleeps;
    uint32_t actionAt = UINT32_MAX;
    std::function<void()> action;

    LogWaitClock clock() {
        LogWaitClock c;
        c.context = this;
        c.nowMs = [](void* self) { return static_cast<FakeClock*>(self)->now; };
        c.sleepMs = [](void* self, uint32_t ms) {
            auto* f = static_cast<FakeClock*>(self);
            f->sleeps.push_back(ms);
            f->now += ms;
            if (f->action && f->now >= f->actionAt) {
                f->action();
                f->action = nullptr;
            }
        };
        return c;
    }
};

struct Flags {
    std::atomic<int32_t> appRunning{1};
    std::atomic<int32_t> csvLogging{1};
    LogWaitFlags view() const { return {&appRunning, &csvLogging}; }
};

TEST(LoggerWait, SleepsInStepsUntilTheRowIsDue) {
    Flags flags;
    FakeClock fake;
    fake.now = 5000;
    EXPECT_EQ(waitForNextRow(flags.view(), 1000, 5000, fake.clock()), LogWaitOutcome::RowDue);
    EXPECT_EQ(fake.now, 6000u);
    EXPECT_EQ(fake.sleeps.size(), 20u);
    for (uint32_t ms : fake.sleeps)
        EXPECT_LE(ms, kLogWaitStepMs);
}

TEST(LoggerWait, LastStepIsShortSoTheRowIsNotLate) {
    Flags flags;
    FakeClock fake;
    fake.now = 130; // the row took 30 ms to write after startMs 100
    EXPECT_EQ(waitForNextRow(flags.view(), 1000, 100, fake.clock()), LogWaitOutcome::RowDue);
    EXPECT_EQ(fake.now, 1100u);
    EXPECT_EQ(fake.sleeps.back(), 20u);
}

TEST(LoggerWait, AlreadyDueDoesNotSleep) {
    Flags flags;
    FakeClock fake;
    fake.now = 2500;
    EXPECT_EQ(waitForNextRow(flags.view(), 1000, 1000, fake.clock()), LogWaitOutcome::RowDue);
    EXPECT_TRUE(fake.sleeps.empty());
}

TEST(LoggerWait, ZeroAndNegativeIntervalsAreDueAtOnce) {
    Flags flags;
    FakeClock fake;
    EXPECT_EQ(waitForNextRow(flags.view(), 0, 0, fake.clock()), LogWaitOutcome::RowDue);
    EXPECT_EQ(waitForNextRow(flags.view(), -5, 0, fake.clock()), LogWaitOutcome::RowDue);
    EXPECT_TRUE(fake.sleeps.empty());
}

TEST(LoggerWait, UncheckingStopsWithinOneStep) {
    Flags flags;
    FakeClock fake;
    fake.actionAt = 12340;
    fake.action = [&] { flags.csvLogging.store(0); };
    EXPECT_EQ(waitForNextRow(flags.view(), 30000, 0, fake.clock()), LogWaitOutcome::LoggingOff);
    EXPECT_LE(fake.now, 12340u + kLogWaitStepMs);
}

TEST(LoggerWait, AppEndWinsOverLoggingOff) {
    Flags flags;
    FakeClock fake;
    fake.actionAt = 200;
    fake.action = [&] {
        flags.csvLogging.store(0);
        flags.appRunning.store(0);
    };
    EXPECT_EQ(waitForNextRow(flags.view(), 1000, 0, fake.clock()), LogWaitOutcome::AppEnded);
    EXPECT_EQ(fake.now, 200u);
}

TEST(LoggerWait, FlagsAreLookedAtBeforeTheClock) {
    Flags flags;
    flags.csvLogging.store(0);
    FakeClock fake;
    fake.now = 99999;
    EXPECT_EQ(waitForNextRow(flags.view(), 1000, 0, fake.clock()), LogWaitOutcome::LoggingOff);
}

TEST(LoggerWait, ClockWrapIsHandled) {
    Flags flags;
    FakeClock fake;
    fake.now = UINT32_MAX - 100;
    EXPECT_EQ(waitForNextRow(flags.view(), 1000, UINT32_MAX - 100, fake.clock()), LogWaitOutcome::RowDue);
    EXPECT_EQ(fake.now, 899u);
    EXPECT_EQ(fake.sleeps.size(), 20u);
}

TEST(LoggerWait, CustomStepAndZeroStep) {
    Flags flags;
    FakeClock fake;
    EXPECT_EQ(waitForNextRow(flags.view(), 100, 0, fake.clock(), 30), LogWaitOutcome::RowDue);
    EXPECT_EQ(fake.sleeps, (std::vector<uint32_t>{30, 30, 30, 10}));
    fake.sleeps.clear();
    fake.now = 0;
    EXPECT_EQ(waitForNextRow(flags.view(), 3, 0, fake.clock(), 0), LogWaitOutcome::RowDue);
    EXPECT_EQ(fake.sleeps, (std::vector<uint32_t>{1, 1, 1}));
}

} // namespace
