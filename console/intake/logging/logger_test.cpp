#include "console/intake/logging/logger.h"

#include <gtest/gtest.h>

#include <cstring>
#include <cwchar>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// The Console's shared state and a platform side that records what it is asked
// to do. The clock starts just before its 32-bit wrap and moves only when slept
// on, or by 30 ms per row begun.
struct Harness {
    GpuPanelState panel;
    CsvSettings csv;
    std::atomic<int32_t> appRunning{1}, uiReady{1};
    uint32_t now = UINT32_MAX - 3000, dropAt = 0; // clear csvLogging (or appRunning) at this reading
    bool dropsApp = false, consoleWorks = true;
    std::vector<uint32_t> rowTimes;               // clock reading at each local-time read
    int prints = 0, holdAtPrint = 0;              // at this print a newer run starts
    std::vector<int> calls = std::vector<int>(4); // refused, attached, released, left
    std::string printed;
    fs::path dir = fs::temp_directory_path() / ("gaugeline_logger_" + std::to_string(uintptr_t(this)));

    Harness() {
        initGpuPanelState(panel);
        initCsvSettings(csv);
        csv.csvLogging.store(1);
        csv.logIntervalMs.store(2010);
        fs::create_directories(dir);
        // A third GPU, left out of the log.
        store(panel.gpuCount, 3);
        csv.csvGpuSelected[2].store(0);
        std::wcscpy(panel.fullName[0], L"GPU Zero");
        std::wcscpy(panel.fullName[1], L"GPU One");
        std::wcscpy(panel.fullName[2], L"GPU Two");
        for (int i = 0; i < 2; ++i) {
            store(panel.slots[i].gpuLoad, i ? 99 : 37);
            store(panel.slots[i].temperature, i ? 71 : 54);
        }
        for (int k = 0; k < kCsvItemCount; ++k)
            csv.csvItemSelected[k].store(k == int(CsvItem::GpuLoad) || k == int(CsvItem::Temperature));
    }
    ~Harness() {
        std::error_code ignored;
        fs::remove_all(dir, ignored);
    }
    LoggerConfig links() { return {&panel, &csv, &appRunning, &uiReady}; }
    LoggerCallbacks edges() {
        LoggerCallbacks e;
        e.context = this;
        e.refusePath = [](void* h) { ++static_cast<Harness*>(h)->calls[0]; };
        e.attachConsole = [](void* h) {
            ++static_cast<Harness*>(h)->calls[1];
            return static_cast<Harness*>(h)->consoleWorks;
        };
        e.releaseConsole = [](void* h) { ++static_cast<Harness*>(h)->calls[2]; };
        e.leaveConsole = [](void* h) { ++static_cast<Harness*>(h)->calls[3]; };
        e.printPieces = [](void* h, const std::vector<ConsolePiece>& pieces) {
            auto* self = static_cast<Harness*>(h);
            for (const ConsolePiece& p : pieces) // a coloured piece starts with its attribute in <>
                self->printed +=
                    (p.attribute == kAttrKeep ? "" : "<" + std::to_string(p.attribute) + ">") + p.text;
            if (++self->prints == self->holdAtPrint)
                self->csv.csvRun.fetch_add(1);
        };
        e.localTime = [](void* h) {
            auto* self = static_cast<Harness*>(h);
            self->rowTimes.push_back(self->now);
            self->now += 30;
            return LogTime{2026, 12, 6, 21, 0, static_cast<int>(self->rowTimes.size()) - 1};
        };
        e.clock.context = this;
        e.clock.nowMs = [](void* h) { return static_cast<Harness*>(h)->now; };
        e.clock.sleepMs = [](void* h, uint32_t ms) {
            auto* self = static_cast<Harness*>(h);
            EXPECT_LE(ms, 50u);
            if ((self->now += ms) == self->dropAt) {
                self->csv.csvLogging.store(0);
                self->appRunning.store(!self->dropsApp);
            }
        };
        return e;
    }
};

const std::string kHeader = "GPU Zero,,,GPU One\r\n,GPU Load,Temperature,,GPU Load,Temperature,\r\n";
std::string stamp(int second) {
    return "2026/12/06 21:00:0" + std::to_string(second);
}

TEST(Logger, RunsFromHeaderToTheirEnd) {
    // The flags drop on the step that makes row `dropRow` due, and win over it.
    // rows: data lines written (-1: no file); begun: rows whose time line was printed.
    const struct {
        const char* file;
        int dropRow, holdAtPrint;
        bool dropsApp, consoleWorks;
        LoggerEnd end;
        int rows, begun;
        std::vector<int> calls; // and csvLogging at the end
    } cases[] = {
        {"log.csv", 3, 0, false, true, LoggerEnd::LoggingOff, 3, 3, {0, 1, 1, 0, 0}},
        {"log.csv", 2, 0, true, true, LoggerEnd::AppEnded, 2, 2, {0, 1, 1, 0, 0}},
        {"log.csv", 0, 0, false, false, LoggerEnd::ConsoleFailed, 0, 0, {0, 1, 0, 0, 1}},
        {"my log.csv", 0, 0, false, true, LoggerEnd::PathRefused, -1, 0, {1, 0, 0, 0, 0}},
        {"log.csv", 0, 2, false, true, LoggerEnd::RunOver, 1, 1, {0, 1, 0, 1, 1}},
        {"log.csv", 0, 3, false, true, LoggerEnd::RunOver, 1, 2, {0, 1, 0, 1, 1}},
    };
    for (const auto& c : cases) {
        Harness h;
        h.dropAt = h.now + 2040 * c.dropRow; // the interval counts from the end of the previous row
        h.holdAtPrint = c.holdAtPrint;
        h.dropsApp = c.dropsApp;
        h.consoleWorks = c.consoleWorks;
        std::ofstream(h.dir / c.file, std::ios::binary) << "old,"; // a run appends
        EXPECT_EQ(c.end, runLogger(h.links(), h.edges(), (h.dir / c.file).string().c_str()));
        std::string content = c.rows < 0 ? "old," : "old," + kHeader, shown;
        std::vector<uint32_t> rowTimes;
        for (int i = 0; i < c.begun; ++i) {
            rowTimes.push_back(UINT32_MAX - 3000 + 2040 * i);
            shown += stamp(i) + " " + std::string(30, '=') + "\n";
            if (i >= c.rows)
                continue;
            content += stamp(i) + ",37,54," + stamp(i) + ",99,71,\r\n";
            shown +=
                "<11>GPU Zero:\n<5>\tGPU Load            37 %\n<5>\tTemperature         54\n<11>GPU One:\n"
                "<5>\tGPU Load            99 %\n<5>\tTemperature         71\n" +
                std::string(50, '=') + "\n";
        }
        std::ifstream in(h.dir / c.file, std::ios::binary);
        EXPECT_EQ(content, std::string(std::istreambuf_iterator<char>(in), {}));
        EXPECT_EQ(rowTimes, h.rowTimes);
        EXPECT_EQ(shown, h.printed);
        h.calls.push_back(h.csv.csvLogging.load());
        EXPECT_EQ(c.calls, h.calls);
    }
    Harness h;
    EXPECT_EQ(writeLogRow(h.links(), h.edges(), h.dir.string().c_str()), LogRowOutcome::FileMissing);
    // "csvファイルが見つかりません" in code page 932.
    EXPECT_EQ(h.printed,
              stamp(0) + " " + std::string(30, '=') +
                  "\ncsv\x83\x74\x83\x40\x83\x43\x83\x8b\x82\xaa\x8c\xa9\x82\xc2\x82\xa9\x82\xe8\x82\xdc\x82"
                  "\xb9\x82\xf1\n" +
                  std::string(50, '=') + "\n");
}

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
        CsvStartCallbacks e;
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
