// Logging with real threads: a receiver-like writer changes the panel while
// logging threads read it, and a tick-like thread starts and stops runs as the
// test flips the check box.
#include "console/intake/logging/logger.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cwchar>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

namespace {

struct Shared {
    GpuPanelState panel;
    CsvSettings csv;
    std::atomic<int32_t> appRunning{1}, uiReady{1}, rows{0}, runsEnded{0}, boxChecked{0};
    std::string path =
        (std::filesystem::temp_directory_path() / ("gaugeline_logger_" + std::to_string(uintptr_t(this))))
            .string();
    std::vector<std::thread> loggers;
};

TEST(LoggerThreads, TickStartsAndStopsRunsWhileTheReceiverWrites) {
    Shared s;
    initGpuPanelState(s.panel);
    initCsvSettings(s.csv);
    store(s.panel.gpuCount, 2);
    s.csv.logIntervalMs.store(10);
    std::filesystem::remove(s.path);
    std::atomic<bool> stop{false};
    std::thread receiver([&] {
        for (int n = 0; !stop.load(); ++n) {
            store(s.panel.slots[n % 2].gpuLoad, n % 101);
            std::lock_guard<std::mutex> lock(s.panel.textLock);
            std::swprintf(s.panel.fullName[n % 2], kFullNameChars + 1, L"GPU %d", n % 10);
        }
    });
    CsvStartCallbacks tick;
    tick.context = &s;
    tick.isBoxChecked = [](void* c) { return static_cast<Shared*>(c)->boxChecked.load() != 0; };
    tick.uncheckBox = tick.chooseItems = tick.showCannotSave = [](void*) {};
    tick.chooseFile = [](void* c, char out[kCsvPathBytes]) {
        return std::snprintf(out, kCsvPathBytes, "%s", static_cast<Shared*>(c)->path.c_str()) > 0;
    };
    tick.startLogger = [](void* c, const char* chosen, int32_t run) {
        auto* s = static_cast<Shared*>(c);
        s->loggers.emplace_back([s, copy = std::string(chosen), run] {
            LoggerCallbacks e;
            e.context = s;
            e.refusePath = e.leaveConsole = [](void*) {};
            e.attachConsole = [](void*) { return true; };
            e.releaseConsole = [](void* c) { static_cast<Shared*>(c)->runsEnded.fetch_add(1); };
            e.printPieces = [](void* c, const std::vector<ConsolePiece>& pieces) {
                static_cast<Shared*>(c)->rows.fetch_add(pieces.back().text == std::string(50, '=') + "\n");
            };
            e.localTime = [](void*) { return currentLogTime(); };
            e.clock = systemLogClock();
            runLogger({&s->panel, &s->csv, &s->appRunning, &s->uiReady, run}, e, copy.c_str());
        });
    };
    // The test thread is the tick: it looks at the box every 5 ms until done.
    auto tickUntil = [&](const std::function<bool()>& done) {
        for (int i = 0; i < 2000 && !done(); ++i) {
            csvCheckBoxControl(s.csv, tick);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return done();
    };
    for (int run = 1; run <= 2; ++run) {
        s.boxChecked.store(1);
        ASSERT_TRUE(tickUntil([&] { return s.rows.load() >= 3 * run; }));
        s.boxChecked.store(0);
        ASSERT_TRUE(tickUntil([&] { return s.runsEnded.load() == run && s.csv.csvLogging.load() == 0; }));
    }
    stop.store(true);
    receiver.join();
    for (std::thread& t : s.loggers)
        t.join();
    std::ifstream in(s.path, std::ios::binary);
    int lines = 0;
    for (std::string line; std::getline(in, line); ++lines)
        EXPECT_EQ(line.size() > 40 ? 26 : 13, std::count(line.begin(), line.end(), ',')) << line;
    EXPECT_EQ((std::vector<int>{int(s.loggers.size()), lines}), (std::vector<int>{2, 2 * 2 + s.rows.load()}));
    in.close();
    std::filesystem::remove(s.path);
}

} // namespace
