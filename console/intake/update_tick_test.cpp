#include "console/intake/update_tick.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

// Records the calls of the check box control and answers its dialogs as told.
struct StartHarness {
    CsvSettings csv;
    bool checked = false;
    bool fileChosen = true;
    bool itemsCancelled = false;
    const char* chosenPath = "C:\\logs\\gpu.csv";
    std::string offeredPath;
    std::vector<std::string> calls;
    std::string startedPath;

    StartHarness() { initCsvSettings(csv); }

    CsvStartEdges edges() {
        CsvStartEdges e;
        e.context = this;
        e.isBoxChecked = [](void* h) { return static_cast<StartHarness*>(h)->checked; };
        e.uncheckBox = [](void* h) {
            auto* self = static_cast<StartHarness*>(h);
            self->checked = false;
            self->calls.push_back("uncheck");
        };
        e.chooseFile = [](void* h, char path[kCsvPathBytes]) {
            auto* self = static_cast<StartHarness*>(h);
            self->calls.push_back("save dialog");
            self->offeredPath = path;
            if (!self->fileChosen)
                return false;
            std::strcpy(path, self->chosenPath);
            return true;
        };
        e.chooseItems = [](void* h) {
            auto* self = static_cast<StartHarness*>(h);
            self->calls.push_back("dialog 138");
            EXPECT_EQ(self->csv.csvDialogCancelled.load(), 0);
            EXPECT_EQ(self->csv.csvLogging.load(), 1);
            if (self->itemsCancelled)
                self->csv.csvDialogCancelled.store(1);
        };
        e.showCannotSave = [](void* h) { static_cast<StartHarness*>(h)->calls.push_back("cannot save"); };
        e.startLogger = [](void* h, const char* path, int32_t) {
            auto* self = static_cast<StartHarness*>(h);
            self->calls.push_back("start logger");
            self->startedPath = path;
        };
        return e;
    }
};

using Calls = std::vector<std::string>;

TEST(CheckBoxControl, NothingWhileUncheckedAndOff) {
    StartHarness h;
    EXPECT_EQ(csvCheckBoxControl(h.csv, h.edges()), CheckBoxStep::Unchanged);
    EXPECT_TRUE(h.calls.empty());
}

TEST(CheckBoxControl, NothingWhileCheckedAndLogging) {
    StartHarness h;
    h.checked = true;
    h.csv.csvLogging.store(1);
    EXPECT_EQ(csvCheckBoxControl(h.csv, h.edges()), CheckBoxStep::Unchanged);
    EXPECT_TRUE(h.calls.empty());
    EXPECT_EQ(h.csv.csvLogging.load(), 1);
}

TEST(CheckBoxControl, CheckingStartsWithBothDialogs) {
    StartHarness h;
    h.checked = true;
    h.csv.csvDialogCancelled.store(1); // left over from an earlier start
    EXPECT_EQ(csvCheckBoxControl(h.csv, h.edges()), CheckBoxStep::Started);
    EXPECT_EQ(h.calls, (Calls{"save dialog", "dialog 138", "start logger"}));
    EXPECT_EQ(h.startedPath, "C:\\logs\\gpu.csv");
    EXPECT_EQ(h.csv.csvLogging.load(), 1);
    EXPECT_TRUE(h.checked);
}

TEST(CheckBoxControl, UncheckingStopsLogging) {
    StartHarness h;
    h.csv.csvLogging.store(1);
    EXPECT_EQ(csvCheckBoxControl(h.csv, h.edges()), CheckBoxStep::Stopped);
    EXPECT_EQ(h.csv.csvLogging.load(), 0);
    EXPECT_TRUE(h.calls.empty());
}

TEST(CheckBoxControl, CancelledSaveDialog) {
    StartHarness h;
    h.checked = true;
    h.fileChosen = false;
    EXPECT_EQ(csvCheckBoxControl(h.csv, h.edges()), CheckBoxStep::Cancelled);
    EXPECT_EQ(h.calls, (Calls{"save dialog", "cannot save", "uncheck"}));
    EXPECT_EQ(h.csv.csvLogging.load(), 0);
}

TEST(CheckBoxControl, ClosedItemDialog) {
    StartHarness h;
    h.checked = true;
    h.itemsCancelled = true;
    EXPECT_EQ(csvCheckBoxControl(h.csv, h.edges()), CheckBoxStep::Cancelled);
    EXPECT_EQ(h.calls, (Calls{"save dialog", "dialog 138", "cannot save", "uncheck"}));
    EXPECT_EQ(h.csv.csvLogging.load(), 0);
    EXPECT_FALSE(h.checked);
}

TEST(CheckBoxControl, SaveDialogOffersThePreviousChoice) {
    StartHarness h;
    h.checked = true;
    csvCheckBoxControl(h.csv, h.edges());
    EXPECT_EQ(h.offeredPath, "");
    h.checked = false;
    csvCheckBoxControl(h.csv, h.edges());
    h.checked = true;
    h.chosenPath = "D:\\second.csv";
    csvCheckBoxControl(h.csv, h.edges());
    EXPECT_EQ(h.offeredPath, "C:\\logs\\gpu.csv");
    EXPECT_EQ(h.startedPath, "D:\\second.csv");
}

TEST(CheckBoxControl, UnterminatedPathFromTheDialogIsCut) {
    StartHarness h;
    h.checked = true;
    std::string longPath(kCsvPathBytes - 1, 'x');
    h.chosenPath = longPath.c_str();
    csvCheckBoxControl(h.csv, h.edges());
    EXPECT_EQ(h.startedPath.size(), static_cast<size_t>(kCsvPathBytes - 1));
}

// Records the tick's calls in order.
struct TickHarness {
    int count = 2;
    int passesBeforeEnd = 3;
    std::atomic<int32_t> appRunning{1};
    std::atomic<int32_t> uiReady{1};
    std::vector<std::string> calls;

    TickEdges edges() {
        TickEdges e;
        e.context = this;
        e.gpuCount = [](void* h) { return static_cast<TickHarness*>(h)->count; };
        e.advanceHistories = [](void* h, int i) {
            static_cast<TickHarness*>(h)->calls.push_back("advance " + std::to_string(i));
        };
        e.syncGpuTab = [](void* h, int i) {
            static_cast<TickHarness*>(h)->calls.push_back("tab " + std::to_string(i));
        };
        e.checkBoxControl = [](void* h) { static_cast<TickHarness*>(h)->calls.push_back("check box"); };
        e.advanceGridPhase = [](void* h) { static_cast<TickHarness*>(h)->calls.push_back("grid"); };
        e.invalidatePlotAreas = [](void* h) {
            auto* self = static_cast<TickHarness*>(h);
            self->calls.push_back("invalidate");
            if (--self->passesBeforeEnd == 0)
                self->appRunning.store(0);
        };
        e.sleepMs = [](void* h, uint32_t ms) {
            static_cast<TickHarness*>(h)->calls.push_back("sleep " + std::to_string(ms));
        };
        return e;
    }
};

TEST(TickLoop, PassOrder) {
    TickHarness h;
    runTickPass(h.edges());
    EXPECT_EQ(h.calls,
              (Calls{"advance 0", "tab 0", "advance 1", "tab 1", "check box", "grid", "invalidate"}));
}

TEST(TickLoop, NoSlotsWithoutGpus) {
    TickHarness h;
    h.count = 0;
    runTickPass(h.edges());
    EXPECT_EQ(h.calls, (Calls{"check box", "grid", "invalidate"}));
}

TEST(TickLoop, RunsOneSecondApartUntilTheAppEnds) {
    TickHarness h;
    h.count = 0;
    EXPECT_EQ(runTickLoop(h.uiReady, h.appRunning, h.edges()), 3);
    EXPECT_EQ(h.calls, (Calls{"check box", "grid", "invalidate", "sleep 1000", "check box", "grid",
                              "invalidate", "sleep 1000", "check box", "grid", "invalidate"}));
}

TEST(TickLoop, EndsAtOnceBeforeTheWindowIsReady) {
    TickHarness h;
    h.uiReady.store(0);
    EXPECT_EQ(runTickLoop(h.uiReady, h.appRunning, h.edges()), 0);
    EXPECT_TRUE(h.calls.empty());
}

} // namespace
