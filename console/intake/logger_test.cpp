#include "console/intake/logger.h"
#include "console/intake/update_tick.h"

#include <gtest/gtest.h>

#include <cwchar>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The Console's shared state and a platform side that records what it is asked
// to do. The clock moves only when slept on, or by 30 ms per row written.
struct Harness {
    GpuPanelState panel;
    CsvSettings csv;
    std::atomic<int32_t> appRunning{1}, uiReady{1};
    uint32_t now = 1000;
    std::vector<uint32_t> rowTimes; // clock reading at each local-time read
    int rowsBeforeStop = -1;        // clear csvLogging (or appRunning) after this many rows
    bool stopsApp = false, consoleWorks = true;
    std::vector<int> calls = std::vector<int>(4); // refused, attached, released, left
    int prints = 0, holdAtPrint = 0;              // this print does not return before whileHeld has run
    std::string printed;
    std::function<void()> whileHeld;
    fs::path dir = fs::temp_directory_path() / ("gaugeline_logger_" + std::to_string(uintptr_t(this)));

    Harness() {
        initGpuPanelState(panel);
        initCsvSettings(csv);
        csv.csvLogging.store(1);
        csv.logIntervalMs.store(2000);
        fs::remove_all(dir);
        fs::create_directories(dir);
        store(panel.gpuCount, 2);
        std::wcscpy(panel.fullName[0], L"GPU Zero");
        std::wcscpy(panel.fullName[1], L"GPU One");
        for (int i = 0; i < 2; ++i) {
            store(panel.slots[i].gpuLoad, i ? 99 : 37);
            store(panel.slots[i].temperature, i ? 71 : 54);
        }
        for (int k = 0; k < kCsvItemCount; ++k)
            csv.csvItemSelected[k].store(k == 2 || k == 5 ? 1 : 0); // GPU Load, Temperature
    }
    ~Harness() {
        std::error_code ignored;
        fs::remove_all(dir, ignored);
    }
    LoggerLinks links() { return {&panel, &csv, &appRunning, &uiReady}; }
    LoggerEdges edges() {
        LoggerEdges e;
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
            for (const ConsolePiece& p : pieces)
                self->printed += p.text;
            if (++self->prints == self->holdAtPrint)
                self->whileHeld();
        };
        e.localTime = [](void* h) {
            auto* self = static_cast<Harness*>(h);
            self->rowTimes.push_back(self->now);
            self->now += 30;
            if (self->rowsBeforeStop == static_cast<int>(self->rowTimes.size()))
                (self->stopsApp ? self->appRunning : self->csv.csvLogging).store(0);
            return LogTime{2026, 12, 6, 21, 0, static_cast<int>(self->rowTimes.size()) - 1};
        };
        e.clock.context = this;
        e.clock.nowMs = [](void* h) { return static_cast<Harness*>(h)->now; };
        e.clock.sleepMs = [](void* h, uint32_t ms) { static_cast<Harness*>(h)->now += ms; };
        return e;
    }
    LoggerEnd run(const char* name) { return runLogger(links(), edges(), (dir / name).string().c_str()); }
};

const std::string kHeader = "GPU Zero,,,GPU One\r\n,GPU Load,Temperature,,GPU Load,Temperature,\r\n";
std::string row(int second) {
    const std::string stamp = "2026/12/06 21:00:0" + std::to_string(second);
    return stamp + ",37,54," + stamp + ",99,71,\r\n";
}

TEST(Logger, RunsFromHeaderToTheirEnd) {
    const struct {
        const char* file;
        int rowsBeforeStop;
        bool stopsApp, consoleWorks;
        LoggerEnd end;
        int rows; // -1: no file
        std::vector<int> calls;
        int csvLogging;
    } cases[] = {
        {"log.csv", 3, false, true, LoggerEnd::LoggingOff, 3, {0, 1, 1, 0}, 0},
        {"log.csv", 2, true, true, LoggerEnd::AppEnded, 2, {0, 1, 1, 0}, 1},
        {"log.csv", -1, false, false, LoggerEnd::ConsoleFailed, 0, {0, 1, 0, 0}, 1},
        {"my log.csv", -1, false, true, LoggerEnd::PathRefused, -1, {1, 0, 0, 0}, 0},
    };
    for (const auto& c : cases) {
        Harness h;
        h.rowsBeforeStop = c.rowsBeforeStop;
        h.stopsApp = c.stopsApp;
        h.consoleWorks = c.consoleWorks;
        EXPECT_EQ(c.end, h.run(c.file));
        std::string content = c.rows < 0 ? "" : kHeader, shown;
        std::vector<uint32_t> rowTimes;
        for (int i = 0; i < c.rows; ++i) {
            content += row(i);
            rowTimes.push_back(1000 + 2030 * i); // the interval counts from the end of the previous row
            shown += "2026/12/06 21:00:0" + std::to_string(i) + " " + std::string(30, '=') +
                     "\nGPU Zero:\n\tGPU Load            37 %\n\tTemperature         54\nGPU One:\n"
                     "\tGPU Load            99 %\n\tTemperature         71\n" +
                     std::string(50, '=') + "\n";
        }
        EXPECT_EQ(content, readFile(h.dir / c.file));
        EXPECT_EQ(rowTimes, h.rowTimes);
        EXPECT_EQ(shown, h.printed);
        std::vector<int> calls = c.calls;
        calls.push_back(c.csvLogging);
        h.calls.push_back(h.csv.csvLogging.load());
        EXPECT_EQ(calls, h.calls);
    }
    Harness h;
    h.rowsBeforeStop = 1;
    h.run("log.csv");
    h.csv.csvLogging.store(1);
    h.rowsBeforeStop = 2;
    h.run("log.csv"); // a second run appends a second header
    EXPECT_EQ(readFile(h.dir / "log.csv"), kHeader + row(0) + kHeader + row(1));
    h.uiReady.store(0);
    EXPECT_EQ(writeLogRow(h.links(), h.edges(), h.dir.string().c_str()), LogRowOutcome::NotReady);
    EXPECT_EQ(h.printed.find("csv\x83\x74"), std::string::npos);
    h.uiReady.store(1);
    EXPECT_EQ(writeLogRow(h.links(), h.edges(), h.dir.string().c_str()), LogRowOutcome::FileMissing);
    EXPECT_NE(h.printed.find("csv\x83\x74"), std::string::npos);
}

TEST(Logger, RunOvertakenWhileItsConsolePrintIsHeldWritesNothingMore) {
    // Run 1's console print is held while the operator unchecks and checks the
    // box and run 2 starts with other items: at the end of row 1's block, or
    // at the start of row 2's.
    for (int heldPrint : {2, 3}) {
        Harness h;
        bool boxChecked = true;
        CsvStartEdges tick;
        tick.context = &boxChecked;
        tick.isBoxChecked = [](void* box) { return *static_cast<bool*>(box); };
        tick.uncheckBox = [](void* box) { *static_cast<bool*>(box) = false; };
        tick.chooseFile = [](void*, char*) { return true; };
        tick.chooseItems = [](void*) {};
        tick.showCannotSave = [](void*) {};
        tick.startLogger = [](void*, const char*, int32_t) {};
        h.csv.csvLogging.store(0);
        ASSERT_EQ(csvCheckBoxControl(h.csv, tick), CheckBoxStep::Started);
        LoggerLinks run1 = h.links();
        run1.run = h.csv.csvRun.load();
        h.rowsBeforeStop = 4; // lets a run that goes on end
        h.holdAtPrint = heldPrint;
        h.whileHeld = [&] {
            boxChecked = false;
            csvCheckBoxControl(h.csv, tick);
            boxChecked = true;
            csvCheckBoxControl(h.csv, tick);
            h.csv.csvItemSelected[0].store(1);
        };
        EXPECT_EQ(runLogger(run1, h.edges(), (h.dir / "log.csv").string().c_str()), LoggerEnd::RunOver);
        EXPECT_EQ(readFile(h.dir / "log.csv"), kHeader + row(0)) << heldPrint;
        EXPECT_EQ(h.rowTimes.size(), size_t(heldPrint - 1)) << heldPrint;
        EXPECT_EQ(h.calls, (std::vector<int>{0, 1, 0, 1})) << heldPrint;
        EXPECT_EQ(h.csv.csvLogging.load(), 1) << heldPrint;
    }
}

TEST(LoggerWait, SleepsInShortStepsUntilTheRowIsDueOrTheRunEnds) {
    const uint32_t never = UINT32_MAX, wrap = UINT32_MAX - 100;
    const struct WaitCase {
        int32_t intervalMs;
        uint32_t startMs, nowMs, dropAt;
        bool dropsApp;
        LogWaitOutcome outcome;
        uint32_t endMs;
        size_t sleeps;
    } cases[] = {
        {1000, 100, 130, never, false, LogWaitOutcome::RowDue, 1100, 20}, // the last step is short
        {1000, 1000, 2500, never, false, LogWaitOutcome::RowDue, 2500, 0},
        {-5, 0, 0, never, false, LogWaitOutcome::RowDue, 0, 0},
        {1000, wrap, wrap, never, false, LogWaitOutcome::RowDue, 899, 20},
        {30000, 0, 0, 12340, false, LogWaitOutcome::LoggingOff, 12350, 247}, // within one step
        {1000, 0, 0, 200, true, LogWaitOutcome::AppEnded, 200, 4},           // the end wins over logging off
        {1000, 0, 99999, 0, false, LogWaitOutcome::LoggingOff, 99999, 0},    // flags before the clock
    };
    for (const WaitCase& c : cases) {
        struct Fake {
            const WaitCase& c;
            uint32_t now;
            size_t sleeps = 0;
            std::atomic<int32_t> appRunning{1}, csvLogging{1};
            void step(uint32_t ms) {
                EXPECT_LE(ms, 50u);
                now += ms;
                if (c.dropAt != UINT32_MAX && now >= c.dropAt) {
                    csvLogging.store(0);
                    appRunning.store(c.dropsApp ? 0 : 1);
                }
            }
        } fake{c, c.nowMs};
        fake.step(0);
        const LogWaitClock clock{[](void* f) { return static_cast<Fake*>(f)->now; },
                                 [](void* f, uint32_t ms) {
                                     ++static_cast<Fake*>(f)->sleeps;
                                     static_cast<Fake*>(f)->step(ms);
                                 },
                                 &fake};
        EXPECT_EQ(c.outcome,
                  waitForNextRow({&fake.appRunning, &fake.csvLogging}, c.intervalMs, c.startMs, clock));
        EXPECT_EQ((std::vector<uint32_t>{c.endMs, uint32_t(c.sleeps)}),
                  (std::vector<uint32_t>{fake.now, uint32_t(fake.sleeps)}))
            << c.intervalMs;
    }
}

} // namespace
