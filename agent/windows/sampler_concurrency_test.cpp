// The sampler thread writes while a reader takes snapshots, as the reporting
// thread does. Run under TSan, this shows the shared state is race-free; the
// checks show that no snapshot sees a torn label. The driver here answers one
// call: a display on DP and HDMI by turns.
#include "agent/windows/sampler.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cwchar>
#include <memory>
#include <string>
#include <thread>

namespace {

std::atomic<uint32_t> gDisplayCalls{0};

NvAPI_Status displays(NvPhysicalGpuHandle, NV_GPU_DISPLAYIDS* list, uint32_t* count, uint32_t) {
    *count = 1;
    if (list)
        list[0].connectorType = gDisplayCalls++ % 2 ? NV_MONITOR_CONN_TYPE_DP : NV_MONITOR_CONN_TYPE_HDMI;
    return NVAPI_OK;
}

TEST(SamplerConcurrency, SnapshotsSeeWholeLabels) {
    auto state = std::make_unique<AgentState>();
    state->agentRunning.store(1);
    state->gpuCount.store(2);
    std::wcscpy(state->slots[0].fullName, L"Example GPU");
    DriverTable driver;
    driver.getConnectedDisplayIds = displays;
    NvapiGpus gpus;
    std::thread sampler([&] { runSampler(*state, gpus, driver, 0); });

    const std::string dp = "Example GPU(1) (DP \x90\xDA\x91\xB1)";
    const std::string hdmi = "Example GPU(1) (HDMI \x90\xDA\x91\xB1)";
    // Until the label has changed a hundred times under the reader.
    for (int i = 0; i < 2000 || gDisplayCalls.load() < 200; ++i) {
        GpuSample samples[kGpuSlotCount];
        snapshotSamples(*state, samples);
        std::string label = samples[0].tabLabel;
        EXPECT_TRUE(label == dp || label == hdmi || label.empty()) << label;
    }
    stopSampler(*state);
    sampler.join();
}

} // namespace
