#include "console/intake/update_tick.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

// Records the calls of the check box control, each followed by ';', and
// answers its dialogs as told.
struct StartHarness {
    CsvSettings csv;
    bool checked = false, fileChosen = true, itemsCancelled = false;
    const char* chosenPath = "";
    std::string startedPath, calls;

    StartHarness() { initCsvSettings(csv); }
    static StartHarness& of(void* h) { return *static_cast<StartHarness*>(h); }

    CheckBoxStep control() {
        CsvStartEdges e;
        e.context = this;
        e.isBoxChecked = [](void* h) { return of(h).checked; };
        e.uncheckBox = [](void* h) {
            of(h).checked = false;
            of(h).calls += "uncheck;";
        };
        e.chooseFile = [](void* h, char path[kCsvPathBytes]) {
            of(h).calls += "save dialog " + std::string(path) + ";";
            if (of(h).fileChosen)
                std::strcpy(path, of(h).chosenPath);
            return of(h).fileChosen;
        };
        e.chooseItems = [](void* h) {
            of(h).calls += "items dialog;";
            EXPECT_EQ(of(h).csv.csvLogging.load(), 1);
            of(h).csv.csvDialogCancelled.store(of(h).itemsCancelled);
        };
        e.showCannotSave = [](void* h) { of(h).calls += "cannot save;"; };
        e.startLogger = [](void* h, const char* path, int32_t run) {
            of(h).calls += "start logger " + std::to_string(run) + ";";
            of(h).startedPath = path;
        };
        return csvCheckBoxControl(csv, e);
    }
};

TEST(CheckBoxControl, BoxAndLoggingDecideTheStepThroughASession) {
    // The box as the operator leaves it and the answers to the dialogs; the
    // step, the calls it makes (the save dialog with the path it offers) and
    // whether the log runs and the box is checked after it.
    struct Step {
        bool checked, fileChosen, itemsCancelled;
        const char* chosenPath;
        CheckBoxStep step;
        const char* calls;
        bool loggingAfter, checkedAfter;
    };
    const Step steps[] = {
        {false, true, false, "", CheckBoxStep::Unchanged, "", false, false},
        {true, true, false, "C:\\logs\\gpu.csv", CheckBoxStep::Started,
         "save dialog ;items dialog;start logger 1;", true, true},
        {true, true, false, "", CheckBoxStep::Unchanged, "", true, true},
        {false, true, false, "", CheckBoxStep::Stopped, "", false, false},
        {true, false, false, "", CheckBoxStep::Cancelled,
         "save dialog C:\\logs\\gpu.csv;cannot save;uncheck;", false, false},
        {true, true, true, "E:\\x.csv", CheckBoxStep::Cancelled,
         "save dialog C:\\logs\\gpu.csv;items dialog;cannot save;uncheck;", false, false},
        // Every start takes a new run number, refused ones too.
        {true, true, false, "D:\\second.csv", CheckBoxStep::Started,
         "save dialog E:\\x.csv;items dialog;start logger 4;", true, true},
    };
    StartHarness h;
    for (const Step& c : steps) {
        h.checked = c.checked;
        h.fileChosen = c.fileChosen;
        h.itemsCancelled = c.itemsCancelled;
        h.chosenPath = c.chosenPath;
        h.calls.clear();
        EXPECT_EQ(h.control(), c.step) << c.calls;
        EXPECT_EQ(h.calls, c.calls);
        EXPECT_TRUE(h.csv.csvLogging.load() == c.loggingAfter && h.checked == c.checkedAfter) << c.calls;
    }
    EXPECT_EQ(h.startedPath, "D:\\second.csv");
}

} // namespace
