// Logging with real threads: a receiver-like writer changes the panel while
// the logging thread reads it, and a tick-like thread starts and stops runs
// as a user-interface thread flips the check box.
#include "console/intake/logger.h"
#include "console/intake/update_tick.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cwchar>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct Shared {
    GpuPanelState panel;
    CsvSettings csv;
    std::atomic<int32_t> appRunning{1};
    std::atomic<int32_t> uiReady{1};
    std::atomic<int32_t> rows{0};
    std::atomic<int32_t> runsEnded{0};
    std::atomic<int32_t> wakeUps{0};
    fs::path dir;

    Shared() {
        initGpuPanelState(panel);
        initCsvSettings(csv);
        store(panel.gpuCount, 2);
        dir = fs::temp_directory_path() /
              ("gaugeline_logger_mt_" + std::to_string(reinterpret_cast<uintptr_t>(this)));
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    ~Shared() {
        std::error_code ignored;
        fs::remove_all(dir, ignored);
    }

    LoggerLinks links(int32_t run = 0) { return {&panel, &csv, &appRunning, &uiReady, run}; }

    LoggerEdges edges() {
        LoggerEdges e;
        e.context = this;
        e.refusePath = [](void*) {};
        e.attachConsole = [](void*) { return true; };
        e.releaseConsole = [](void* s) { static_cast<Shared*>(s)->runsEnded.fetch_add(1); };
        e.leaveConsole = [](void*) {};
        e.printPieces = [](void* s, const std::vector<ConsolePiece>& pieces) {
            if (!pieces.empty() && pieces.back().text == std::string(50, '=') + "\n")
                static_cast<Shared*>(s)->rows.fetch_add(1);
        };
        e.localTime = [](void*) { return currentLogTime(); };
        e.clock = systemLogWaitClock();
        return e;
    }
};

// Changes readings and names the way the receiver does, until told to stop.
void receiverLike(Shared& s, std::atomic<bool>& stop) {
    int n = 0;
    while (!stop.load()) {
        for (int i = 0; i < 2; ++i) {
            store(s.panel.slots[i].gpuLoad, n % 101);
            store(s.panel.slots[i].temperature, 40 + n % 50);
            store(s.panel.slots[i].powerDraw, 1000 * n);
            std::lock_guard<std::mutex> lock(s.panel.textLock);
            std::swprintf(s.panel.fullName[i], kFullNameChars + 1, L"GPU %d", n % 10);
        }
        ++n;
        std::this_thread::sleep_for(1ms);
    }
}

bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

TEST(LoggerThreads, RowsWhileTheReceiverWritesThenStopOnUncheck) {
    Shared s;
    s.csv.logIntervalMs.store(20);
    s.csv.csvLogging.store(1);
    std::atomic<bool> stop{false};
    std::thread receiver(receiverLike, std::ref(s), std::ref(stop));
    const std::string path = (s.dir / "log.csv").string();
    LoggerEnd end{};
    std::thread logger([&] { end = runLogger(s.links(), s.edges(), path.c_str()); });

    ASSERT_TRUE(waitFor([&] { return s.rows.load() >= 5; }, 10s));
    s.csv.csvLogging.store(0);
    // Generous bound: the thread must end on its own, within a step in practice.
    EXPECT_TRUE(waitFor([&] { return s.runsEnded.load() == 1; }, 5s));
    logger.join();
    stop.store(true);
    receiver.join();
    EXPECT_EQ(end, LoggerEnd::LoggingOff);

    std::istringstream lines(readFile(s.dir / "log.csv"));
    std::string line;
    int count = 0;
    const std::regex header1(R"((GPU \d|- empty -),{13}(GPU \d|- empty -)\r)");
    const std::regex row(R"((\d{4}/\d\d/\d\d \d\d:\d\d:\d\d,([-0-9.]*,){12}){2}\r)");
    while (std::getline(lines, line)) {
        if (count == 0) {
            EXPECT_TRUE(std::regex_match(line, header1)) << line;
        } else if (count >= 2) {
            EXPECT_TRUE(std::regex_match(line, row)) << line;
        }
        ++count;
    }
    EXPECT_EQ(count, 2 + s.rows.load());
}

TEST(LoggerThreads, TickStartsAndStopsRunsAsTheBoxIsFlipped) {
    Shared s;
    s.csv.logIntervalMs.store(10);
    const std::string path = (s.dir / "ticked.csv").string();
    std::atomic<int32_t> boxChecked{0};
    std::vector<std::thread> loggers;

    struct TickContext {
        Shared* shared;
        std::atomic<int32_t>* box;
        const std::string* path;
        std::vector<std::thread>* loggers;
    } context{&s, &boxChecked, &path, &loggers};

    CsvStartEdges edges;
    edges.context = &context;
    edges.isBoxChecked = [](void* c) { return static_cast<TickContext*>(c)->box->load() != 0; };
    edges.uncheckBox = [](void* c) { static_cast<TickContext*>(c)->box->store(0); };
    edges.chooseFile = [](void* c, char out[kCsvPathBytes]) {
        std::snprintf(out, kCsvPathBytes, "%s", static_cast<TickContext*>(c)->path->c_str());
        return true;
    };
    edges.chooseItems = [](void*) {};
    edges.showCannotSave = [](void*) {};
    edges.startLogger = [](void* c, const char* chosen, int32_t run) {
        auto* ctx = static_cast<TickContext*>(c);
        Shared* shared = ctx->shared;
        std::string copy = chosen;
        ctx->loggers->emplace_back(
            [shared, copy, run] { runLogger(shared->links(run), shared->edges(), copy.c_str()); });
    };

    std::atomic<bool> tickStop{false};
    std::thread tick([&] {
        while (!tickStop.load()) {
            csvCheckBoxControl(s.csv, edges);
            std::this_thread::sleep_for(2ms);
        }
    });

    for (int run = 1; run <= 2; ++run) {
        boxChecked.store(1);
        ASSERT_TRUE(waitFor([&] { return s.rows.load() >= 3 * run; }, 10s));
        boxChecked.store(0);
        ASSERT_TRUE(waitFor([&] { return s.runsEnded.load() == run; }, 5s));
        ASSERT_TRUE(waitFor([&] { return s.csv.csvLogging.load() == 0; }, 5s));
    }
    tickStop.store(true);
    tick.join();
    for (std::thread& t : loggers)
        t.join();
    EXPECT_EQ(loggers.size(), 2u);

    const std::string text = readFile(s.dir / "ticked.csv");
    size_t headers = 0;
    for (size_t at = text.find("\r\n,Graphics Clock,"); at != std::string::npos;
         at = text.find("\r\n,Graphics Clock,", at + 1))
        ++headers;
    EXPECT_EQ(headers, 2u);
}

// Wake-ups of the waiting logging thread per second of waiting (printed, not judged).
TEST(LoggerThreads, WakeUpsPerSecondWhileWaiting) {
    Shared s;
    s.csv.csvLogging.store(1);
    struct Counting {
        std::atomic<int32_t>* wakeUps;
    } counting{&s.wakeUps};
    LogWaitClock clock = systemLogWaitClock();
    LogWaitClock counted;
    counted.context = &counting;
    counted.nowMs = clock.nowMs;
    counted.sleepMs = [](void* c, uint32_t ms) {
        static_cast<Counting*>(c)->wakeUps->fetch_add(1);
        systemLogWaitClock().sleepMs(nullptr, ms);
    };
    const LogWaitFlags flags{&s.appRunning, &s.csv.csvLogging};
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(waitForNextRow(flags, 1000, clock.nowMs(nullptr), counted), LogWaitOutcome::RowDue);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("logging wait: %d wake-ups in %.3f s (%.1f per second)\n", s.wakeUps.load(), seconds,
                s.wakeUps.load() / seconds);
    EXPECT_GT(s.wakeUps.load(), 0);
}

} // namespace
