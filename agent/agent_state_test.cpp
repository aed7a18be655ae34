#include "agent/agent_state.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

namespace {

TEST(AgentState, SnapshotCarriesEveryFieldInWireOrderAndResetEmptiesIt) {
    auto state = std::make_unique<AgentState>();
    resetAgentSlots(*state);
    int k = 0;
#define GAUGELINE_SET_DISTINCT(name, kind, conv)                                                             \
    state->slots[3].sample.name.store(static_cast<GAUGELINE_WIRE_TYPE_##kind>(1000 + k++));
    GAUGELINE_SAMPLE_FIELDS(GAUGELINE_SET_DISTINCT)
#undef GAUGELINE_SET_DISTINCT
    std::wcscpy(state->slots[3].fullName, L"Example GPU");
    storeTabLabel(*state, 3, "Example GPU(4)");
    state->gpuCount.store(4);
    state->reportConnected.store(1);
    state->slots[3].busId = 7;
    recordVersion(state->slots[3], RecordVersion::Cooler) = 0x40558;
    GpuSample samples[kGpuSlotCount];
    snapshotSamples(*state, samples);
    for (int f = 0; f < kSampleFieldCount; ++f)
        EXPECT_EQ(static_cast<uint32_t>(1000 + f), sampleFieldBits(samples[3], f)) << kSampleFields[f].name;
    EXPECT_EQ(std::wstring(L"Example GPU"), std::wstring(samples[3].fullName));
    EXPECT_STREQ("Example GPU(4)", samples[3].tabLabel);

    resetAgentSlots(*state);
    EXPECT_EQ(0, state->gpuCount.load() | state->reportConnected.load());
    std::memset(samples, 0x5A, sizeof samples);
    snapshotSamples(*state, samples);
    for (int i = 0; i < kGpuSlotCount; ++i) {
        EXPECT_EQ(std::wstring(L"- empty -"), std::wstring(samples[i].fullName));
        EXPECT_STREQ("", samples[i].tabLabel);
        for (int f = 0; f < kSampleFieldCount; ++f)
            EXPECT_EQ(0u, sampleFieldBits(samples[i], f)) << i << " " << kSampleFields[f].name;
    }
    EXPECT_EQ(0u, state->slots[3].busId | recordVersion(state->slots[3], RecordVersion::Cooler));
}

} // namespace
