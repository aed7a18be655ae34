// One report block a second per Agent: building it on the Agent and parsing
// it on the Console.
#include "console/intake/link/intake.h"
#include "protocol/report_block.h"

#include <benchmark/benchmark.h>

#include <cwchar>

namespace {

void fullSamples(GpuSample (&samples)[kGpuSlotCount]) {
    for (auto& s : samples) {
        clearGpuSample(&s);
        std::wcscpy(s.fullName, L"Example GPU with a long marketing name");
        for (int k = 0; k < kSampleFieldCount; ++k)
            setSampleFieldBits(&s, k, kSampleFields[k].kind == WireKind::Flag ? 1u : 4000000000u);
    }
}

void buildBlock(benchmark::State& st) {
    GpuSample samples[kGpuSlotCount];
    fullSamples(samples);
    uint8_t block[kReportBlockBytes];
    for (auto _ : st) {
        buildReportBlock(samples, 8, "192.0.2.20", block);
        benchmark::DoNotOptimize(block);
    }
}
BENCHMARK(buildBlock);

void parseBlock(benchmark::State& st) {
    GpuSample samples[kGpuSlotCount];
    fullSamples(samples);
    uint8_t block[kReportBlockBytes];
    buildReportBlock(samples, 8, "192.0.2.20", block);
    static GpuPanelState state;
    initGpuPanelState(state);
    IntakeWindowCallbacks hooks;
    for (auto _ : st)
        benchmark::DoNotOptimize(applyReportBlock(state, block, hooks));
}
BENCHMARK(parseBlock);

} // namespace
