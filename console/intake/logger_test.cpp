#include "console/intake/logger.h"
#include "console/intake/update_tick.h"

#include <gtest/gtest.h>

#include <cwchar>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <regex>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void setFullName(GpuPanelState& state, int slot, const wchar_t* name) {
    std::lock_guard<std::mutex> lock(state.textLock);
    std::wcsncpy(state.fullName[slot], name, kFullNameChars);
}

// The Console's shared state and a platform side that records what it is asked
// to do. The clock moves only when slept on, or by rowCostMs per row written.
struct Harness {
    GpuPanelState panel;
    CsvSettings csv;
    std::atomic<int32_t> appRunning{1};
    std::atomic<int32_t> uiReady{1};

    uint32_t now = 1000;
    uint32_t rowCostMs = 0;
    int second = 0;
    std::vector<uint32_t> rowTimes; // clock reading at each local-time read
    int rowsBeforeStop = -1;        // clear csvLogging after this many rows
    bool stopsApp = false;
    bool consoleWorks = true;
    int refused = 0, attached = 0, released = 0, left = 0;
    std::vector<ConsolePiece> printed;
    int prints = 0;
    int holdAtPrint = 0; // this print does not return before whileHeld has run
    std::function<void()> whileHeld;
    fs::path dir;

    Harness() {
        initGpuPanelState(panel);
        initCsvSettings(csv);
        csv.csvLogging.store(1);
        dir = fs::temp_directory_path() /
              ("gaugeline_logger_" + std::to_string(reinterpret_cast<uintptr_t>(this)));
        fs::remove_all(dir);
        fs::create_directories(dir);
        store(panel.gpuCount, 2);
        setFullName(panel, 0, L"GPU Zero");
        setFullName(panel, 1, L"GPU One");
        store(panel.slots[0].gpuLoad, 37);
        store(panel.slots[0].temperature, 54);
        store(panel.slots[1].gpuLoad, 99);
        store(panel.slots[1].temperature, 71);
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
        e.refusePath = [](void* h) { ++static_cast<Harness*>(h)->refused; };
        e.attachConsole = [](void* h) {
            auto* self = static_cast<Harness*>(h);
            ++self->attached;
            return self->consoleWorks;
        };
        e.releaseConsole = [](void* h) { ++static_cast<Harness*>(h)->released; };
        e.leaveConsole = [](void* h) { ++static_cast<Harness*>(h)->left; };
        e.printPieces = [](void* h, const std::vector<ConsolePiece>& pieces) {
            auto* self = static_cast<Harness*>(h);
            self->printed.insert(self->printed.end(), pieces.begin(), pieces.end());
            if (++self->prints == self->holdAtPrint)
                self->whileHeld();
        };
        e.localTime = [](void* h) {
            auto* self = static_cast<Harness*>(h);
            self->rowTimes.push_back(self->now);
            self->now += self->rowCostMs;
            int s = self->second++;
            if (self->rowsBeforeStop >= 0 &&
                static_cast<int>(self->rowTimes.size()) >= self->rowsBeforeStop) {
                if (self->stopsApp)
                    self->appRunning.store(0);
                else
                    self->csv.csvLogging.store(0);
            }
            return LogTime{2026, 12, 6, 21, 0, s};
        };
        e.clock.context = this;
        e.clock.nowMs = [](void* h) { return static_cast<Harness*>(h)->now; };
        e.clock.sleepMs = [](void* h, uint32_t ms) { static_cast<Harness*>(h)->now += ms; };
        return e;
    }

    std::string printedText() const {
        std::string all;
        for (const ConsolePiece& p : printed)
            all += p.text;
        return all;
    }
};

const char kHeader[] = "GPU Zero,,,GPU One\r\n,GPU Load,Temperature,,GPU Load,Temperature,\r\n";

TEST(Logger, HeaderThenRowsUntilUnchecked) {
    Harness h;
    h.rowsBeforeStop = 3;
    const fs::path file = h.dir / "log.csv";
    EXPECT_EQ(runLogger(h.links(), h.edges(), file.string().c_str()), LoggerEnd::LoggingOff);
    EXPECT_EQ(readFile(file), std::string(kHeader) +
                                  "2026/12/06 21:00:00,37,54,2026/12/06 21:00:00,99,71,\r\n"
                                  "2026/12/06 21:00:01,37,54,2026/12/06 21:00:01,99,71,\r\n"
                                  "2026/12/06 21:00:02,37,54,2026/12/06 21:00:02,99,71,\r\n");
    EXPECT_EQ(h.attached, 1);
    EXPECT_EQ(h.released, 1);
    EXPECT_EQ(h.refused, 0);
    // Three blocks of: time line, then per GPU a name and two value lines, then the end line.
    ASSERT_EQ(h.printed.size(), 3u * (2 + 2 * 3 + 1));
    EXPECT_EQ(h.printed[2].attribute, kAttrGpuName);
    EXPECT_EQ(h.printed[2].text, "GPU Zero:\n");
    EXPECT_EQ(h.printed[3].text, "\tGPU Load            37 %\n");
    EXPECT_EQ(h.printed[4].text, "\tTemperature         54\n");
    EXPECT_EQ(h.printed[8].text, std::string(50, '=') + "\n");
}

// The tick, with the box as the operator leaves it and the dialogs answered.
struct Tick {
    bool boxChecked = true;
    int32_t startedRun = -1;
    CsvStartEdges edges() {
        CsvStartEdges e;
        e.context = this;
        e.isBoxChecked = [](void* t) { return static_cast<Tick*>(t)->boxChecked; };
        e.uncheckBox = [](void* t) { static_cast<Tick*>(t)->boxChecked = false; };
        e.chooseFile = [](void*, char*) { return true; };
        e.chooseItems = [](void*) {};
        e.showCannotSave = [](void*) {};
        e.startLogger = [](void* t, const char*, int32_t run) { static_cast<Tick*>(t)->startedRun = run; };
        return e;
    }
};

TEST(Logger, RunOvertakenWhileItsConsolePrintIsHeldWritesNothingMore) {
    // Run 1's console print is held while the operator unchecks and checks the
    // box and run 2 starts with other items: at the end of row 1's block, or
    // at the start of row 2's.
    const struct {
        int heldPrint;
        size_t rowsBegun;
    } cases[] = {{2, 1}, {3, 2}};
    for (const auto& c : cases) {
        Harness h;
        Tick tick;
        h.csv.csvLogging.store(0);
        ASSERT_EQ(csvCheckBoxControl(h.csv, tick.edges()), CheckBoxStep::Started);
        LoggerLinks run1 = h.links();
        run1.run = tick.startedRun;
        h.rowsBeforeStop = 4; // lets a run that goes on end
        h.holdAtPrint = c.heldPrint;
        h.whileHeld = [&] {
            tick.boxChecked = false;
            csvCheckBoxControl(h.csv, tick.edges());
            tick.boxChecked = true;
            csvCheckBoxControl(h.csv, tick.edges());
            h.csv.csvItemSelected[0].store(1);
        };
        const fs::path file = h.dir / "log.csv";
        EXPECT_EQ(runLogger(run1, h.edges(), file.string().c_str()), LoggerEnd::RunOver) << c.heldPrint;
        EXPECT_EQ(readFile(file),
                  std::string(kHeader) + "2026/12/06 21:00:00,37,54,2026/12/06 21:00:00,99,71,\r\n")
            << c.heldPrint;
        EXPECT_EQ(h.rowTimes.size(), c.rowsBegun) << c.heldPrint;
        EXPECT_EQ(h.released, 0) << c.heldPrint;
        EXPECT_EQ(h.left, 1) << c.heldPrint;
        EXPECT_EQ(h.csv.csvLogging.load(), 1) << c.heldPrint;
    }
}

TEST(Logger, RowsFollowEveryIntervalPlusTheWritingTime) {
    Harness h;
    h.rowsBeforeStop = 4;
    h.rowCostMs = 30;
    h.csv.logIntervalMs.store(2000);
    const fs::path file = h.dir / "log.csv";
    runLogger(h.links(), h.edges(), file.string().c_str());
    EXPECT_EQ(h.rowTimes, (std::vector<uint32_t>{1000, 3030, 5060, 7090}));
}

TEST(Logger, AppEndReleasesTheConsole) {
    Harness h;
    h.rowsBeforeStop = 2;
    h.stopsApp = true;
    const fs::path file = h.dir / "log.csv";
    EXPECT_EQ(runLogger(h.links(), h.edges(), file.string().c_str()), LoggerEnd::AppEnded);
    EXPECT_EQ(h.rowTimes.size(), 2u);
    EXPECT_EQ(h.released, 1);
}

TEST(Logger, PathWithSpaceIsRefused) {
    Harness h;
    const fs::path file = h.dir / "my log.csv";
    EXPECT_EQ(runLogger(h.links(), h.edges(), file.string().c_str()), LoggerEnd::PathRefused);
    EXPECT_EQ(h.refused, 1);
    EXPECT_EQ(h.csv.csvLogging.load(), 0);
    EXPECT_EQ(h.attached, 0);
    EXPECT_FALSE(fs::exists(file));
}

TEST(Logger, ConsoleFailureLeavesOnlyTheHeader) {
    Harness h;
    h.consoleWorks = false;
    const fs::path file = h.dir / "log.csv";
    EXPECT_EQ(runLogger(h.links(), h.edges(), file.string().c_str()), LoggerEnd::ConsoleFailed);
    EXPECT_EQ(readFile(file), kHeader);
    EXPECT_EQ(h.csv.csvLogging.load(), 1);
    EXPECT_TRUE(h.rowTimes.empty());
    EXPECT_EQ(h.released, 0);
}

TEST(Logger, SecondRunAppendsASecondHeader) {
    Harness h;
    const fs::path file = h.dir / "log.csv";
    h.rowsBeforeStop = 1;
    runLogger(h.links(), h.edges(), file.string().c_str());
    h.csv.csvLogging.store(1);
    h.rowTimes.clear();
    h.second = 30;
    runLogger(h.links(), h.edges(), file.string().c_str());
    EXPECT_EQ(readFile(file), std::string(kHeader) +
                                  "2026/12/06 21:00:00,37,54,2026/12/06 21:00:00,99,71,\r\n" + kHeader +
                                  "2026/12/06 21:00:30,37,54,2026/12/06 21:00:30,99,71,\r\n");
}

TEST(Logger, UnopenableFileGetsNoHeaderButLaterRowsLand) {
    Harness h;
    // A folder where the file should be: neither header nor first row can open it.
    const fs::path file = h.dir / "busy.csv";
    fs::create_directories(file);
    LoggerEdges edges = h.edges();
    EXPECT_EQ(writeLogRow(h.links(), edges, file.string().c_str()), LogRowOutcome::FileMissing);
    EXPECT_TRUE(fs::is_directory(file));
    fs::remove(file);
    EXPECT_EQ(writeLogRow(h.links(), edges, file.string().c_str()), LogRowOutcome::Written);
    EXPECT_EQ(readFile(file), "2026/12/06 21:00:01,37,54,2026/12/06 21:00:01,99,71,\r\n");
    ASSERT_GE(h.printed.size(), 4u);
    EXPECT_EQ(h.printed[0].text, "2026/12/06 21:00:00 ");
    EXPECT_EQ(h.printed[2].text, "csv\x83\x74\x83\x40\x83\x43\x83\x8b\x82\xaa\x8c\xa9\x82\xc2\x82\xa9\x82\xe8"
                                 "\x82\xdc\x82\xb9\x82\xf1\n");
    EXPECT_EQ(h.printed[3].text, std::string(50, '=') + "\n");
}

TEST(Logger, RowBeforeTheWindowIsReadyDoesNothing) {
    Harness h;
    h.uiReady.store(0);
    const fs::path file = h.dir / "log.csv";
    LoggerEdges edges = h.edges();
    EXPECT_EQ(writeLogRow(h.links(), edges, file.string().c_str()), LogRowOutcome::NotReady);
    EXPECT_FALSE(fs::exists(file));
    EXPECT_TRUE(h.printed.empty());
}

TEST(Logger, RowFollowsTheCurrentGpuCountAndSelection) {
    Harness h;
    const fs::path file = h.dir / "log.csv";
    LoggerEdges edges = h.edges();
    h.csv.csvGpuSelected[0].store(0);
    writeLogRow(h.links(), edges, file.string().c_str());
    store(h.panel.gpuCount, 0);
    writeLogRow(h.links(), edges, file.string().c_str());
    store(h.panel.gpuCount, 40);
    writeLogRow(h.links(), edges, file.string().c_str());
    const std::string got = readFile(file);
    EXPECT_TRUE(got.rfind("2026/12/06 21:00:00,99,71,\r\n\r\n2026/12/06 21:00:02,99,71,", 0) == 0) << got;
    // Slots 2 to 7 hold zeros after the start-up state.
    EXPECT_NE(got.find("2026/12/06 21:00:02,0,0,"), std::string::npos);
}

TEST(Logger, RealClockRowHasTheTimeStampFormat) {
    Harness h;
    const fs::path file = h.dir / "log.csv";
    LoggerEdges edges = h.edges();
    edges.localTime = [](void*) { return currentLogTime(); };
    ASSERT_EQ(writeLogRow(h.links(), edges, file.string().c_str()), LogRowOutcome::Written);
    const std::regex row(R"((\d{4})/(\d\d)/(\d\d) (\d\d):(\d\d):(\d\d),37,54,\1/\2/\3 \4:\5:\6,99,71,\r\n)");
    EXPECT_TRUE(std::regex_match(readFile(file), row)) << readFile(file);
    const LogTime t = currentLogTime();
    EXPECT_GE(t.year, 2020);
    EXPECT_TRUE(t.month >= 1 && t.month <= 12 && t.day >= 1 && t.day <= 31);
    EXPECT_TRUE(t.hour >= 0 && t.hour <= 23 && t.minute >= 0 && t.minute <= 59 && t.second >= 0 &&
                t.second <= 60);
}

TEST(Logger, OverlongPathIsCutAtTheBufferSize) {
    Harness h;
    const std::string path = (h.dir / "missing").string() + "/" + std::string(400, 'a');
    LoggerEdges edges = h.edges();
    // Too long to open anywhere; must not read past 260 bytes or crash.
    EXPECT_EQ(writeLogRow(h.links(), edges, path.c_str()), LogRowOutcome::FileMissing);
}

TEST(Logger, AppendToFileReportsFailure) {
    Harness h;
    EXPECT_FALSE(appendToFile((h.dir / "missing" / "x.csv").string().c_str(), "x"));
    EXPECT_TRUE(appendToFile((h.dir / "x.csv").string().c_str(), "a\r\n"));
    EXPECT_TRUE(appendToFile((h.dir / "x.csv").string().c_str(), "b\r\n"));
    EXPECT_EQ(readFile(h.dir / "x.csv"), "a\r\nb\r\n");
}

} // namespace
