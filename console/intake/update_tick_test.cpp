#include "console/intake/update_tick.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using Calls = std::vector<std::string>;

// Records the calls of the check box control and answers its dialogs as told.
struct StartHarness {
    CsvSettings csv;
    bool checked = false;
    bool fileChosen = true;
    bool itemsCancelled = false;
    const char* chosenPath = "C:\\logs\\gpu.csv";
    std::string offeredPath, startedPath;
    Calls calls;

    StartHarness() { initCsvSettings(csv); }
    static StartHarness& of(void* h) { return *static_cast<StartHarness*>(h); }

    CheckBoxStep control() {
        CsvStartEdges e;
        e.context = this;
        e.isBoxChecked = [](void* h) { return of(h).checked; };
        e.uncheckBox = [](void* h) {
            of(h).checked = false;
            of(h).calls.push_back("uncheck");
        };
        e.chooseFile = [](void* h, char path[kCsvPathBytes]) {
            of(h).calls.push_back("save dialog");
            of(h).offeredPath = path;
            if (of(h).fileChosen)
                std::strcpy(path, of(h).chosenPath);
            return of(h).fileChosen;
        };
        e.chooseItems = [](void* h) {
            of(h).calls.push_back("items dialog");
            EXPECT_EQ(of(h).csv.csvLogging.load(), 1);
            of(h).csv.csvDialogCancelled.store(of(h).itemsCancelled);
        };
        e.showCannotSave = [](void* h) { of(h).calls.push_back("cannot save"); };
        e.startLogger = [](void* h, const char* path, int32_t run) {
            of(h).calls.push_back("start logger " + std::to_string(run));
            of(h).startedPath = path;
        };
        return csvCheckBoxControl(csv, e);
    }
};

TEST(CheckBoxControl, BoxAndLoggingDecideTheStep) {
    struct Case {
        bool checked, logging, fileChosen, itemsCancelled;
        CheckBoxStep step;
        Calls calls;
        bool loggingAfter, checkedAfter;
    };
    const Case cases[] = {
        {false, false, true, false, CheckBoxStep::Unchanged, {}, false, false},
        {true, true, true, false, CheckBoxStep::Unchanged, {}, true, true},
        {false, true, true, false, CheckBoxStep::Stopped, {}, false, false},
        {true,
         false,
         true,
         false,
         CheckBoxStep::Started,
         {"save dialog", "items dialog", "start logger 1"},
         true,
         true},
        {true,
         false,
         false,
         false,
         CheckBoxStep::Cancelled,
         {"save dialog", "cannot save", "uncheck"},
         false,
         false},
        {true,
         false,
         true,
         true,
         CheckBoxStep::Cancelled,
         {"save dialog", "items dialog", "cannot save", "uncheck"},
         false,
         false},
    };
    for (const Case& c : cases) {
        StartHarness h;
        h.checked = c.checked;
        h.fileChosen = c.fileChosen;
        h.itemsCancelled = c.itemsCancelled;
        h.csv.csvLogging.store(c.logging);
        h.csv.csvDialogCancelled.store(1); // left over from an earlier start
        EXPECT_EQ(h.control(), c.step);
        EXPECT_EQ(h.calls, c.calls);
        EXPECT_EQ(h.csv.csvLogging.load(), c.loggingAfter);
        EXPECT_EQ(h.checked, c.checkedAfter);
    }
}

TEST(CheckBoxControl, SaveDialogOffersThePreviousChoice) {
    StartHarness h;
    h.checked = true;
    h.control();
    EXPECT_EQ(h.offeredPath, "");
    h.checked = false;
    h.control();
    h.checked = true;
    h.chosenPath = "D:\\second.csv";
    h.control();
    EXPECT_EQ(h.offeredPath, "C:\\logs\\gpu.csv");
    EXPECT_EQ(h.startedPath, "D:\\second.csv");
    EXPECT_EQ(h.calls.back(), "start logger 2");
}

// Records the tick's calls in order; the app ends after the given passes.
struct TickHarness {
    int count = 2;
    int passesBeforeEnd = 2;
    std::atomic<int32_t> appRunning{1};
    std::atomic<int32_t> uiReady{1};
    Calls calls;
    static void note(void* h, std::string call) { static_cast<TickHarness*>(h)->calls.push_back(call); }

    int run() {
        TickEdges e;
        e.context = this;
        e.gpuCount = [](void* h) { return static_cast<TickHarness*>(h)->count; };
        e.checkBoxControl = [](void* h) { note(h, "check box"); };
        e.sleepMs = [](void* h, uint32_t ms) { note(h, "sleep " + std::to_string(ms)); };
        e.display.context = this;
        e.display.advanceHistories = [](void* h, int i) { note(h, "advance " + std::to_string(i)); };
        e.display.syncGpuTab = [](void* h, int i) { note(h, "tab " + std::to_string(i)); };
        e.display.advanceGridPhase = [](void* h) { note(h, "grid"); };
        e.display.invalidatePlotAreas = [](void* h) {
            note(h, "invalidate");
            auto* self = static_cast<TickHarness*>(h);
            if (--self->passesBeforeEnd == 0)
                self->appRunning.store(0);
        };
        return runTickLoop(uiReady, appRunning, e);
    }
};

TEST(TickLoop, PassesOneSecondApartUntilTheAppEnds) {
    const Calls pass = {"advance 0", "tab 0", "advance 1", "tab 1", "check box", "grid", "invalidate"};
    Calls twoPasses = pass;
    twoPasses.push_back("sleep 1000");
    twoPasses.insert(twoPasses.end(), pass.begin(), pass.end());
    struct Case {
        int count;
        int32_t uiReady;
        int passes;
        Calls calls;
    };
    const Case cases[] = {
        {2, 1, 2, twoPasses},
        {0, 1, 2, {"check box", "grid", "invalidate", "sleep 1000", "check box", "grid", "invalidate"}},
        {2, 0, 0, {}}, // before the window is ready
    };
    for (const Case& c : cases) {
        TickHarness h;
        h.count = c.count;
        h.uiReady.store(c.uiReady);
        EXPECT_EQ(h.run(), c.passes);
        EXPECT_EQ(h.calls, c.calls);
    }
}

} // namespace
