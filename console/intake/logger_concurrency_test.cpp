// Logging with real threads: a receiver-like writer changes the panel while
// logging threads read it, and a tick-like thread starts and stops runs as the
// test flips the check box.
#include "console/intake/logger.h"
#include "console/intake/update_tick.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cwchar>
#include <filesystem>
#include <fstream>
#include <regex>
#include <thread>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

struct Shared {
    GpuPanelState panel;
    CsvSettings csv;
    std::atomic<int32_t> appRunning{1}, uiReady{1}, rows{0}, runsEnded{0}, boxChecked{0};
    std::string path =
        (fs::temp_directory_path() / ("gaugeline_logger_" + std::to_string(uintptr_t(this)))).string();
    std::vector<std::thread> loggers;

    LoggerEdges edges() {
        LoggerEdges e;
        e.context = this;
        e.refusePath = [](void*) {};
        e.attachConsole = [](void*) { return true; };
        e.releaseConsole = [](void* s) { static_cast<Shared*>(s)->runsEnded.fetch_add(1); };
        e.leaveConsole = [](void*) {};
        e.printPieces = [](void* s, const std::vector<ConsolePiece>& pieces) {
            if (pieces.back().text == std::string(50, '=') + "\n")
                static_cast<Shared*>(s)->rows.fetch_add(1);
        };
        e.localTime = [](void*) { return currentLogTime(); };
        e.clock = systemLogWaitClock();
        return e;
    }
    CsvStartEdges tickEdges() {
        CsvStartEdges e;
        e.context = this;
        e.isBoxChecked = [](void* s) { return static_cast<Shared*>(s)->boxChecked.load() != 0; };
        e.uncheckBox = [](void* s) { static_cast<Shared*>(s)->boxChecked.store(0); };
        e.chooseFile = [](void* s, char out[kCsvPathBytes]) {
            std::snprintf(out, kCsvPathBytes, "%s", static_cast<Shared*>(s)->path.c_str());
            return true;
        };
        e.chooseItems = [](void*) {};
        e.showCannotSave = [](void*) {};
        e.startLogger = [](void* c, const char* chosen, int32_t run) {
            auto* s = static_cast<Shared*>(c);
            s->loggers.emplace_back([s, copy = std::string(chosen), run] {
                runLogger({&s->panel, &s->csv, &s->appRunning, &s->uiReady, run}, s->edges(), copy.c_str());
            });
        };
        return e;
    }
};

bool waitFor(const std::function<bool()>& done) {
    for (auto end = std::chrono::steady_clock::now() + 10s; !done(); std::this_thread::sleep_for(5ms))
        if (std::chrono::steady_clock::now() > end)
            return false;
    return true;
}

TEST(LoggerThreads, TickStartsAndStopsRunsWhileTheReceiverWrites) {
    Shared s;
    initGpuPanelState(s.panel);
    initCsvSettings(s.csv);
    store(s.panel.gpuCount, 2);
    s.csv.logIntervalMs.store(10);
    fs::remove(s.path);
    std::atomic<bool> stop{false};
    std::thread receiver([&] {
        for (int n = 0; !stop.load(); ++n, std::this_thread::sleep_for(1ms))
            for (int i = 0; i < 2; ++i) {
                store(s.panel.slots[i].gpuLoad, n % 101);
                store(s.panel.slots[i].powerDraw, 1000 * n);
                std::lock_guard<std::mutex> lock(s.panel.textLock);
                std::swprintf(s.panel.fullName[i], kFullNameChars + 1, L"GPU %d", n % 10);
            }
    });
    const CsvStartEdges tickEdges = s.tickEdges();
    std::thread tick([&] {
        while (!stop.load()) {
            csvCheckBoxControl(s.csv, tickEdges);
            std::this_thread::sleep_for(2ms);
        }
    });
    for (int run = 1; run <= 2; ++run) {
        s.boxChecked.store(1);
        ASSERT_TRUE(waitFor([&] { return s.rows.load() >= 3 * run; }));
        s.boxChecked.store(0);
        ASSERT_TRUE(waitFor([&] { return s.runsEnded.load() == run && s.csv.csvLogging.load() == 0; }));
    }
    stop.store(true);
    tick.join();
    receiver.join();
    for (std::thread& t : s.loggers)
        t.join();
    EXPECT_EQ(s.loggers.size(), 2u);

    std::ifstream lines(s.path, std::ios::binary);
    const std::regex names(R"((GPU \d|- empty -),{13}(GPU \d|- empty -)\r)");
    const std::regex row(R"((\d{4}/\d\d/\d\d \d\d:\d\d:\d\d,([-0-9.]*,){12}){2}\r)");
    int headers = 0, dataRows = 0;
    for (std::string line, previous; std::getline(lines, line); previous = line) {
        headers += std::regex_match(line, names) ? 1 : 0;
        dataRows += std::regex_match(line, row) ? 1 : 0;
        EXPECT_TRUE(std::regex_match(line, names) || std::regex_match(line, row) ||
                    std::regex_match(previous, names))
            << line;
    }
    EXPECT_EQ(headers, 2);
    EXPECT_EQ(dataRows, s.rows.load());
    lines.close();
    fs::remove(s.path);
}

} // namespace
