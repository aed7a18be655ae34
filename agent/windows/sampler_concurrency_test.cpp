// The sampler thread writes while a reader takes snapshots, as the reporting
// thread does. Run under TSan, this shows the shared state is race-free; the
// checks show that no snapshot sees a torn label.
#include "agent/windows/sampler.h"
#include "agent/windows/startup.h"
#include "tests/support/fake_driver.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>

namespace {

TEST(SamplerConcurrency, SnapshotsSeeWholeLabelsAndGrowingScales) {
    resetFakeDriver();
    gFake.gpus.resize(2);
    for (FakeGpu& g : gFake.gpus)
        g.alternateConnector = true;
    auto state = std::make_unique<AgentState>();
    state->agentRunning.store(1);
    NvapiGpus gpus;
    ASSERT_TRUE(startSampler(*state, gpus, fakeDriverTable(), StartupCallbacks{}));
    std::thread sampler([&] { runSampler(*state, gpus, fakeDriverTable(), 0); });

    const std::string dp = "Example GPU(1) (DP \x90\xDA\x91\xB1)";
    const std::string hdmi = "Example GPU(1) (HDMI \x90\xDA\x91\xB1)";
    uint32_t lastScale = 0;
    for (int i = 0; i < 2000; ++i) {
        GpuSample samples[kGpuSlotCount];
        snapshotSamples(*state, samples);
        std::string label = samples[0].tabLabel;
        EXPECT_TRUE(label == dp || label == hdmi || label == "Example GPU(1)") << label;
        EXPECT_GE(samples[0].graphicsClockScale, lastScale);
        lastScale = samples[0].graphicsClockScale;
    }
    state->agentRunning.store(0);
    sampler.join();
    EXPECT_GT(gFake.gpus[0].displayCalls, 0);
}

} // namespace
