#include "agent/agent_state.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

namespace {

TEST(AgentState, ResetGivesEmptySlots) {
    auto state = std::make_unique<AgentState>();
    state->gpuCount.store(3);
    state->reportConnected.store(1);
    state->slots[2].busId = 7;
    recordVersion(state->slots[2], RecordVersion::Cooler) = 0x40558;
    state->slots[2].sample.fanRpm.store(1200);
    state->gpuHandles[5] = reinterpret_cast<NvPhysicalGpuHandle>(state.get());
    storeTabLabel(*state, 2, "x");
    resetAgentSlots(*state);
    EXPECT_EQ(0, state->gpuCount.load());
    EXPECT_EQ(0, state->reportConnected.load());
    EXPECT_EQ(nullptr, state->gpuHandles[5]);
    GpuSample samples[kGpuSlotCount];
    std::memset(samples, 0x5A, sizeof samples);
    snapshotSamples(*state, samples);
    for (int i = 0; i < kGpuSlotCount; ++i) {
        EXPECT_EQ(std::wstring(L"- empty -"), std::wstring(samples[i].fullName));
        EXPECT_STREQ("", samples[i].tabLabel);
        for (int k = 0; k < kSampleFieldCount; ++k)
            EXPECT_EQ(0u, sampleFieldBits(samples[i], k)) << i << " " << kSampleFields[k].name;
        EXPECT_EQ(0u, state->slots[i].busId);
        for (uint32_t v : state->slots[i].recordVersions)
            EXPECT_EQ(0u, v);
    }
}

TEST(AgentState, SnapshotCopiesEveryFieldInWireOrder) {
    auto state = std::make_unique<AgentState>();
    resetAgentSlots(*state);
    // Give every field of slot 3 a distinct value through the atomics.
    int k = 0;
#define GAUGELINE_SET_DISTINCT(name, kind, conv)                                                             \
    state->slots[3].sample.name.store(static_cast<GAUGELINE_WIRE_TYPE_##kind>(1000 + k));                    \
    ++k;
    GAUGELINE_SAMPLE_FIELDS(GAUGELINE_SET_DISTINCT)
#undef GAUGELINE_SET_DISTINCT
    ASSERT_EQ(kSampleFieldCount, k);
    std::wcscpy(state->slots[3].fullName, L"Example GPU");
    storeTabLabel(*state, 3, "Example GPU(4)");
    GpuSample samples[kGpuSlotCount];
    snapshotSamples(*state, samples);
    for (int f = 0; f < kSampleFieldCount; ++f)
        EXPECT_EQ(static_cast<uint32_t>(1000 + f), sampleFieldBits(samples[3], f)) << kSampleFields[f].name;
    EXPECT_EQ(std::wstring(L"Example GPU"), std::wstring(samples[3].fullName));
    EXPECT_STREQ("Example GPU(4)", samples[3].tabLabel);
    EXPECT_STREQ("", samples[2].tabLabel);
}

TEST(AgentState, LabelsAreCutToTheirFieldAndBadSlotsIgnored) {
    auto state = std::make_unique<AgentState>();
    resetAgentSlots(*state);
    std::string longLabel(80, 'L');
    storeTabLabel(*state, 0, longLabel.c_str());
    char out[kTabLabelBytes];
    loadTabLabel(*state, 0, out);
    EXPECT_EQ(std::string(kTabLabelBytes - 1, 'L'), std::string(out));
    storeTabLabel(*state, -1, "bad");
    storeTabLabel(*state, kGpuSlotCount, "bad");
    loadTabLabel(*state, kGpuSlotCount, out);
    EXPECT_STREQ("", out);
}

} // namespace
