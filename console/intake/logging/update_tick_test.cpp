#include "console/intake/logging/update_tick.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

// Records the calls of the check box control, each followed by ';' (the save
// dialog with the path it offers, the items dialog, the refusal message, the
// logger's run number and path), and answers its dialogs as told: no chosen
// path cancels the save dialog.
struct StartHarness {
    CsvSettings csv;
    bool checked = false, itemsCancelled = false;
    const char* chosenPath = nullptr;
    std::string calls;

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
            of(h).calls += "save " + std::string(path) + ";";
            if (of(h).chosenPath != nullptr)
                std::strcpy(path, of(h).chosenPath);
            return of(h).chosenPath != nullptr;
        };
        e.chooseItems = [](void* h) {
            of(h).calls += "items;";
            EXPECT_EQ(of(h).csv.csvLogging.load(), 1);
            of(h).csv.csvDialogCancelled.store(of(h).itemsCancelled);
        };
        e.showCannotSave = [](void* h) { of(h).calls += "refused;"; };
        e.startLogger = [](void* h, const char* path, int32_t run) {
            of(h).calls += "run " + std::to_string(run) + " " + path + ";";
        };
        return csvCheckBoxControl(csv, e);
    }
};

TEST(CheckBoxControl, BoxAndLoggingDecideTheStepThroughASession) {
    // The box as the operator leaves it and the answers to the dialogs; the
    // step, the calls it makes, then whether the log runs and the box is checked.
    struct Step {
        bool checked, itemsCancelled;
        const char* chosenPath;
        CheckBoxStep step;
        const char* after;
    };
    const Step steps[] = {
        {false, false, nullptr, CheckBoxStep::Unchanged, "idle,unchecked"},
        {true, false, "C:\\a.csv", CheckBoxStep::Started, "save ;items;run 1 C:\\a.csv;logging,checked"},
        {true, false, nullptr, CheckBoxStep::Unchanged, "logging,checked"},
        {false, false, nullptr, CheckBoxStep::Stopped, "idle,unchecked"},
        {true, false, nullptr, CheckBoxStep::Cancelled, "save C:\\a.csv;refused;uncheck;idle,unchecked"},
        {true, true, "E:\\b.csv", CheckBoxStep::Cancelled,
         "save C:\\a.csv;items;refused;uncheck;idle,unchecked"},
        // Every start takes a new run number, refused ones too.
        {true, false, "D:\\c.csv", CheckBoxStep::Started,
         "save E:\\b.csv;items;run 4 D:\\c.csv;logging,checked"},
    };
    StartHarness h;
    for (const Step& c : steps) {
        h.checked = c.checked;
        h.itemsCancelled = c.itemsCancelled;
        h.chosenPath = c.chosenPath;
        h.calls.clear();
        EXPECT_EQ(h.control(), c.step) << c.after;
        h.calls += std::string(h.csv.csvLogging.load() ? "logging," : "idle,") +
                   (h.checked ? "checked" : "unchecked");
        EXPECT_EQ(h.calls, c.after);
    }
}

} // namespace
