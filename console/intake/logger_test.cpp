#include "console/intake/logger.h"

#include <gtest/gtest.h>

#include <cwchar>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// The Console's shared state and a platform side that records what it is asked
// to do. The clock moves only when slept on, or by 30 ms per row begun.
struct Harness {
    GpuPanelState panel;
    CsvSettings csv;
    std::atomic<int32_t> appRunning{1}, uiReady{1};
    uint32_t now = 1000, dropAt = UINT32_MAX, sleeps = 0;
    bool dropsApp = false, consoleWorks = true;
    std::vector<uint32_t> rowTimes;               // clock reading at each local-time read
    int rowsBeforeStop = -1;                      // clear csvLogging (or appRunning) after this many rows
    int prints = 0, holdAtPrint = 0;              // at this print a newer run starts
    std::vector<int> calls = std::vector<int>(4); // refused, attached, released, left
    std::string printed;
    fs::path dir = fs::temp_directory_path() / ("gaugeline_logger_" + std::to_string(uintptr_t(this)));

    Harness() {
        initGpuPanelState(panel);
        initCsvSettings(csv);
        csv.csvLogging.store(1);
        csv.logIntervalMs.store(2000);
        fs::create_directories(dir);
        store(panel.gpuCount, 2);
        std::wcscpy(panel.fullName[0], L"GPU Zero");
        std::wcscpy(panel.fullName[1], L"GPU One");
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
    void step(uint32_t ms) {
        EXPECT_LE(ms, 50u);
        now += ms;
        if (dropAt != UINT32_MAX && now >= dropAt) {
            csv.csvLogging.store(0);
            appRunning.store(dropsApp ? 0 : 1);
        }
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
                self->csv.csvRun.fetch_add(1);
        };
        e.localTime = [](void* h) {
            auto* self = static_cast<Harness*>(h);
            self->rowTimes.push_back(self->now);
            self->now += 30;
            if (self->rowsBeforeStop == static_cast<int>(self->rowTimes.size()))
                (self->dropsApp ? self->appRunning : self->csv.csvLogging).store(0);
            return LogTime{2026, 12, 6, 21, 0, static_cast<int>(self->rowTimes.size()) - 1};
        };
        e.clock.context = this;
        e.clock.nowMs = [](void* h) { return static_cast<Harness*>(h)->now; };
        e.clock.sleepMs = [](void* h, uint32_t ms) {
            ++static_cast<Harness*>(h)->sleeps;
            static_cast<Harness*>(h)->step(ms);
        };
        return e;
    }
};

const std::string kHeader = "GPU Zero,,,GPU One\r\n,GPU Load,Temperature,,GPU Load,Temperature,\r\n";
std::string stamp(int second) {
    return "2026/12/06 21:00:0" + std::to_string(second);
}

TEST(Logger, RunsFromHeaderToTheirEnd) {
    // rows: data lines written (-1: no file); begun: rows whose time line was printed.
    const struct {
        const char* file;
        int rowsBeforeStop, holdAtPrint;
        bool dropsApp, consoleWorks;
        LoggerEnd end;
        int rows, begun;
        std::vector<int> calls; // and csvLogging at the end
    } cases[] = {
        {"log.csv", 3, 0, false, true, LoggerEnd::LoggingOff, 3, 3, {0, 1, 1, 0, 0}},
        {"log.csv", 2, 0, true, true, LoggerEnd::AppEnded, 2, 2, {0, 1, 1, 0, 1}},
        {"log.csv", -1, 0, false, false, LoggerEnd::ConsoleFailed, 0, 0, {0, 1, 0, 0, 1}},
        {"my log.csv", -1, 0, false, true, LoggerEnd::PathRefused, -1, 0, {1, 0, 0, 0, 0}},
        {"log.csv", 4, 2, false, true, LoggerEnd::RunOver, 1, 1, {0, 1, 0, 1, 1}},
        {"log.csv", 4, 3, false, true, LoggerEnd::RunOver, 1, 2, {0, 1, 0, 1, 1}},
    };
    for (const auto& c : cases) {
        Harness h;
        h.rowsBeforeStop = c.rowsBeforeStop;
        h.holdAtPrint = c.holdAtPrint;
        h.dropsApp = c.dropsApp;
        h.consoleWorks = c.consoleWorks;
        std::ofstream(h.dir / c.file, std::ios::binary) << "old,"; // a run appends
        EXPECT_EQ(c.end, runLogger(h.links(), h.edges(), (h.dir / c.file).string().c_str()));
        std::string content = c.rows < 0 ? "old," : "old," + kHeader, shown;
        std::vector<uint32_t> rowTimes;
        for (int i = 0; i < c.begun; ++i) {
            rowTimes.push_back(1000 + 2030 * i); // the interval counts from the end of the previous row
            shown += stamp(i) + " " + std::string(30, '=') + "\n";
            if (i >= c.rows)
                continue;
            content += stamp(i) + ",37,54," + stamp(i) + ",99,71,\r\n";
            shown += "GPU Zero:\n\tGPU Load            37 %\n\tTemperature         54\nGPU One:\n"
                     "\tGPU Load            99 %\n\tTemperature         71\n" +
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
    h.uiReady.store(0);
    EXPECT_EQ(writeLogRow(h.links(), h.edges(), h.dir.string().c_str()), LogRowOutcome::NotReady);
    EXPECT_EQ(h.printed, "");
    h.uiReady.store(1);
    EXPECT_EQ(writeLogRow(h.links(), h.edges(), h.dir.string().c_str()), LogRowOutcome::FileMissing);
    EXPECT_NE(h.printed.find("csv\x83\x74"), std::string::npos);
}

TEST(LoggerWait, SleepsInShortStepsUntilTheRowIsDueOrTheRunEnds) {
    const uint32_t never = UINT32_MAX, wrap = UINT32_MAX - 100;
    const struct {
        int32_t intervalMs;
        uint32_t startMs, nowMs, dropAt;
        bool dropsApp;
        LogWaitOutcome outcome;
        uint32_t endMs, sleeps;
    } cases[] = {
        {1000, 1000, 2500, never, false, LogWaitOutcome::RowDue, 2500, 0},
        {-5, 0, 0, never, false, LogWaitOutcome::RowDue, 0, 0},
        {1000, wrap, wrap + 30, never, false, LogWaitOutcome::RowDue, 899, 20}, // the last step is short
        {30000, 0, 0, 12340, false, LogWaitOutcome::LoggingOff, 12350, 247},    // within one step
        {1000, 0, 0, 200, true, LogWaitOutcome::AppEnded, 200, 4},        // the end wins over logging off
        {1000, 0, 99999, 0, false, LogWaitOutcome::LoggingOff, 99999, 0}, // flags before the clock
    };
    for (const auto& c : cases) {
        Harness h;
        h.now = c.nowMs;
        h.dropAt = c.dropAt;
        h.dropsApp = c.dropsApp;
        h.step(0);
        EXPECT_EQ(c.outcome, waitForNextRow({&h.appRunning, &h.csv.csvLogging}, c.intervalMs, c.startMs,
                                            h.edges().clock));
        EXPECT_EQ((std::vector<uint32_t>{c.endMs, c.sleeps}), (std::vector<uint32_t>{h.now, h.sleeps}));
    }
}

} // namespace
