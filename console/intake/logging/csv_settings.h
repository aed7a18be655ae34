// What the operator chose for CSV logging; lives for one run of the Console.
#pragma once
#include "protocol/gpu_sample.h"

#include <atomic>
#include <cstdint>

constexpr int kCsvItemCount = 12;
constexpr int kCsvPathBytes = 260;

struct CsvSettings {
    std::atomic<int32_t> csvLogging{0};
    std::atomic<int32_t> logIntervalMs{1000};
    std::atomic<int32_t> csvGpuSelected[kGpuSlotCount] = {};
    std::atomic<int32_t> csvItemSelected[kCsvItemCount] = {};
    std::atomic<int32_t> csvDialogCancelled{0};
    // Raised by the tick at each start of logging: a logging thread whose run
    // number is no longer this one has been overtaken by a newer run.
    std::atomic<int32_t> csvRun{0};
    // Written by the save dialog on the tick thread; the logging thread gets a copy.
    char csvPath[kCsvPathBytes] = {};
};

// Start-up choices: every GPU and item selected, 1000 ms, logging off, no path.
inline void initCsvSettings(CsvSettings& csv) {
    csv.csvLogging.store(0, std::memory_order_relaxed);
    csv.logIntervalMs.store(1000, std::memory_order_relaxed);
    for (auto& g : csv.csvGpuSelected)
        g.store(1, std::memory_order_relaxed);
    for (auto& i : csv.csvItemSelected)
        i.store(1, std::memory_order_relaxed);
    csv.csvDialogCancelled.store(0, std::memory_order_relaxed);
    csv.csvPath[0] = '\0';
}
