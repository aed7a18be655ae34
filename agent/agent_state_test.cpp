#include "agent/agent_state.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

namespace {

// The last slot, so that a reset which stops short of it shows.
TEST(AgentState, SnapshotCarriesEveryFieldInWireOrderAndResetEmptiesTheNames) {
    auto state = std::make_unique<AgentState>();
    AgentSlot& slot = state->slots[kGpuSlotCount - 1];
    int k = 0;
#define GAUGELINE_SET_DISTINCT(name, kind, conv)                                                             \
    slot.sample.name.store(static_cast<GAUGELINE_WIRE_TYPE_##kind>(1000 + k++));
    GAUGELINE_SAMPLE_FIELDS(GAUGELINE_SET_DISTINCT)
#undef GAUGELINE_SET_DISTINCT
    std::wcscpy(slot.fullName, L"Example GPU");
    storeTabLabel(*state, kGpuSlotCount - 1, "Example GPU(8)");
    GpuSample samples[kGpuSlotCount];
    snapshotSamples(*state, samples);
    const GpuSample& s = samples[kGpuSlotCount - 1];
    for (int f = 0; f < kSampleFieldCount; ++f)
        EXPECT_EQ(static_cast<uint32_t>(1000 + f), sampleFieldBits(s, f)) << kSampleFields[f].name;
    EXPECT_EQ(std::wstring(L"Example GPU"), std::wstring(s.fullName));
    EXPECT_STREQ("Example GPU(8)", s.tabLabel);

    resetAgentSlots(*state);
    snapshotSamples(*state, samples);
    EXPECT_EQ(std::wstring(L"- empty -"), std::wstring(s.fullName));
    EXPECT_STREQ("", s.tabLabel);
}

} // namespace
