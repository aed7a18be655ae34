#include "agent/windows/startup.h"

#include "tests/support/fake_driver.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

void record(void* context, StartupMessage m) {
    static_cast<std::vector<StartupMessage>*>(context)->push_back(m);
}

struct StartupTest : ::testing::Test {
    std::unique_ptr<AgentState> state = std::make_unique<AgentState>();
    std::vector<StartupMessage> shown;
    StartupHooks hooks;
    void SetUp() override {
        resetFakeDriver();
        gFake.gpus.resize(1);
        shown.clear();
        hooks.message = record;
        hooks.context = &shown;
        state->agentRunning.store(1);
    }
    bool run() { return startSampler(*state, fakeDriverTable(), hooks); }
    std::string label(int slot) {
        GpuSample samples[kGpuSlotCount];
        snapshotSamples(*state, samples);
        return samples[slot].tabLabel;
    }
};

// Names are cut to their first 39 characters; a bus number the driver
// refuses reads as 0.
TEST_F(StartupTest, PhysicalThenTccGpus) {
    gFake.gpus.resize(3);
    gFake.gpus[0].tcc = true; // listed first by the driver, recognised after the physical ones
    gFake.gpus[0].name = "Tesla";
    gFake.gpus[0].busStatus = NVAPI_ERROR;
    gFake.gpus[1].name = std::string(64, 'N'); // no terminator within the 64 bytes
    gFake.gpus[1].busId = 33;
    gFake.gpus[2].name = "GeForce B";
    ASSERT_TRUE(run());
    EXPECT_EQ(3, state->gpuCount.load());
    EXPECT_EQ((std::vector<std::string>{std::string(39, 'N') + "(1)", "GeForce B(2)", "Tesla(3)", ""}),
              (std::vector<std::string>{label(0), label(1), label(2), label(3)}));
    EXPECT_EQ((std::vector<std::wstring>{std::wstring(39, L'N'), L"Tesla", L"- empty -"}),
              (std::vector<std::wstring>{state->slots[0].fullName, state->slots[2].fullName,
                                         state->slots[3].fullName}));
    EXPECT_EQ((std::vector<uint32_t>{33, 0}),
              (std::vector<uint32_t>{state->slots[0].busId, state->slots[2].busId}));
    EXPECT_TRUE(shown.empty());
    EXPECT_EQ(1, state->agentRunning.load());
    EXPECT_EQ(1, gFake.nvmlInitCalls);
}

TEST_F(StartupTest, FailuresEndStartUpWithTheirMessage) {
    using M = StartupMessage;
    const std::pair<void (*)(), StartupMessage> cases[] = {
        {[] { gFake.initializeStatus = NVAPI_LIBRARY_NOT_FOUND; }, M::NvapiFailed},
        {[] { gFake.enumStatus = NVAPI_NVIDIA_DEVICE_NOT_FOUND; }, M::NvapiFailed},
        {[] { gFake.tccStatus = NVAPI_ERROR; }, M::NvapiFailed},
        {[] { gFake.gpus.clear(); }, M::NvapiFailed},
        {[] { gFake.nvmlLoads = false; }, M::NvmlLoadFailed},
        {[] { gFake.nvmlMissing.insert("nvmlInit"); }, M::NvmlInitFailed},
        {[] { gFake.nvmlInitStatus = NVML_ERROR_DRIVER_NOT_LOADED; }, M::NvmlInitFailed},
        {[] { gFake.gpus[0].nameStatus = NVAPI_ERROR; }, M::NameFailed},
    };
    for (const auto& c : cases) {
        SetUp();
        c.first();
        EXPECT_FALSE(run());
        EXPECT_EQ(std::vector<StartupMessage>{c.second}, shown) << &c - cases;
        EXPECT_EQ(0, state->agentRunning.load());
    }
}

TEST_F(StartupTest, GpuCountIsCutToEight) {
    const int cases[][4] = {{1, 0, 1, 0}, {9, 0, 8, 1}, {50, 50, 8, 1}}; // physical, TCC, count, message
    for (const auto& c : cases) {
        SetUp();
        gFake.gpus.resize(c[0] + c[1]);
        for (int k = c[0]; k < c[0] + c[1]; ++k)
            gFake.gpus[k].tcc = true;
        ASSERT_TRUE(run());
        EXPECT_EQ(c[2], state->gpuCount.load());
        EXPECT_EQ(c[2] == 1 ? "Example GPU" : "Example GPU(8)", label(c[2] - 1));
        EXPECT_EQ(std::vector<StartupMessage>(c[3], StartupMessage::TooManyGpus), shown) << c[0];
    }
}

// The clock record's second try comes after a pause of 1 ms.
TEST_F(StartupTest, RecordVersionsPickTheNewestAccepted) {
    const std::set<uint32_t> all = {0x30108, 0x20108, 0x31CF8, 0x21CF8, 0x20044,
                                    0x20018, 0x40558, 0x30508, 0x203C8, 0x103C8};
    struct Case {
        std::set<uint32_t> rejected;
        std::vector<uint32_t> versions; // clocks, P-states, thermal, memory, cooler
        size_t pauses;
    } cases[] = {
        {{}, {0x30108, 0x31CF8, 0x20044, 0x20018, 0x40558}, 0},
        {{0x30108, 0x31CF8, 0x40558}, {0x20108, 0x21CF8, 0x20044, 0x20018, 0x30508}, 1},
        {all, {0x10108, 0x11C94, 0x10044, 0x10014, 0x10098}, 1}, // the oldest are taken untried
        {{0x40558, 0x30508, 0x203C8}, {0x30108, 0x31CF8, 0x20044, 0x20018, 0x103C8}, 0},
    };
    for (const Case& c : cases) {
        SetUp();
        gFake.gpus.resize(2);
        gFake.gpus[1].rejected = c.rejected;
        ASSERT_TRUE(run());
        const uint32_t* v = state->slots[1].recordVersions;
        EXPECT_EQ(c.versions, std::vector<uint32_t>(v, v + kRecordVersionCount)) << c.versions[4];
        // Versions taken untried are never offered to the driver.
        for (uint32_t tried : gFake.triedVersions)
            EXPECT_EQ(1u, all.count(tried)) << std::hex << tried;
        EXPECT_EQ(0x30108u, recordVersion(state->slots[0], RecordVersion::Clock));
        EXPECT_EQ(std::vector<int>(c.pauses, 1), gFake.sleepMs) << c.versions[4];
    }
}

TEST(WindowsVersion, SevenAndLaterAreSupported) {
    const uint32_t cases[][3] = {{6, 0, 0}, {6, 1, 1}, {6, 2, 1}, {10, 0, 1}}; // major, minor, supported
    for (const auto& c : cases)
        EXPECT_EQ(c[2] != 0, windowsVersionSupported(c[0], c[1])) << c[0] << "." << c[1];
}

} // namespace
