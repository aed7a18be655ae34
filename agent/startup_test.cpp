#include "agent/startup.h"

#include "tests/support/fake_driver.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

struct Shown {
    std::vector<StartupMessage> messages;
};
void record(void* context, StartupMessage m) {
    static_cast<Shown*>(context)->messages.push_back(m);
}

struct StartupTest : ::testing::Test {
    std::unique_ptr<AgentState> state = std::make_unique<AgentState>();
    Shown shown;
    StartupHooks hooks;
    void SetUp() override {
        resetFakeDriver();
        gFake.gpus.resize(1);
        hooks.message = record;
        hooks.context = &shown;
        state->agentRunning.store(1);
    }
    bool run() { return prepareGpus(*state, fakeDriverTable(), hooks); }
    std::string label(int slot) {
        char out[kTabLabelBytes];
        loadTabLabel(*state, slot, out);
        return out;
    }
};

TEST_F(StartupTest, PhysicalThenTccGpus) {
    gFake.gpus.resize(3);
    gFake.gpus[0].tcc = true; // listed first by the driver, recognised after the physical ones
    gFake.gpus[0].name = "Tesla";
    gFake.gpus[1].name = "GeForce A";
    gFake.gpus[2].name = "GeForce B";
    ASSERT_TRUE(run());
    EXPECT_EQ(3, state->gpuCount.load());
    EXPECT_EQ(fakeHandle(1), state->gpuHandles[0]);
    EXPECT_EQ(fakeHandle(2), state->gpuHandles[1]);
    EXPECT_EQ(fakeHandle(0), state->gpuHandles[2]);
    EXPECT_EQ("GeForce A(1)", label(0));
    EXPECT_EQ("GeForce B(2)", label(1));
    EXPECT_EQ("Tesla(3)", label(2));
    EXPECT_EQ(std::wstring(L"Tesla"), std::wstring(state->slots[2].fullName));
    EXPECT_EQ(std::wstring(L"- empty -"), std::wstring(state->slots[3].fullName));
    EXPECT_EQ("", label(3));
    EXPECT_TRUE(shown.messages.empty());
    EXPECT_EQ(1, state->agentRunning.load());
    EXPECT_EQ(1, gFake.nvmlInitCalls);
}

TEST_F(StartupTest, FailuresEndStartUpWithTheirMessage) {
    struct Case {
        const char* what;
        void (*arrange)();
        StartupMessage message;
    } cases[] = {
        {"initialise fails", [] { gFake.initializeStatus = NVAPI_LIBRARY_NOT_FOUND; },
         StartupMessage::NvapiFailed},
        {"enumeration fails", [] { gFake.enumStatus = NVAPI_NVIDIA_DEVICE_NOT_FOUND; },
         StartupMessage::NvapiFailed},
        {"TCC enumeration fails", [] { gFake.tccStatus = NVAPI_ERROR; }, StartupMessage::NvapiFailed},
        {"no GPU", [] { gFake.gpus.clear(); }, StartupMessage::NvapiFailed},
        {"NVML missing", [] { gFake.nvmlLoads = false; }, StartupMessage::NvmlLoadFailed},
        {"nvmlInit not exported", [] { gFake.nvmlMissing.insert("nvmlInit"); },
         StartupMessage::NvmlInitFailed},
        {"nvmlInit fails", [] { gFake.nvmlInitStatus = NVML_ERROR_DRIVER_NOT_LOADED; },
         StartupMessage::NvmlInitFailed},
        {"name fails", [] { gFake.gpus[0].nameStatus = NVAPI_ERROR; }, StartupMessage::NameFailed},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        shown.messages.clear();
        c.arrange();
        EXPECT_FALSE(run());
        ASSERT_EQ(1u, shown.messages.size());
        EXPECT_EQ(c.message, shown.messages[0]);
        EXPECT_EQ(0, state->agentRunning.load());
    }
}

TEST_F(StartupTest, GpuCountIsCutToEight) {
    struct Case {
        int physical, tcc, count;
        const char *firstLabel, *lastLabel;
        size_t messages;
    } cases[] = {{1, 0, 1, "Example GPU", "Example GPU", 0},
                 {9, 0, 8, "Example GPU(1)", "Example GPU(8)", 1},
                 {50, 50, 8, "Example GPU(1)", "Example GPU(8)", 1}}; // both handle lists full
    for (const Case& c : cases) {
        SetUp();
        shown.messages.clear();
        gFake.gpus.resize(c.physical + c.tcc);
        for (int k = c.physical; k < c.physical + c.tcc; ++k)
            gFake.gpus[k].tcc = true;
        ASSERT_TRUE(run());
        EXPECT_EQ(c.count, state->gpuCount.load());
        EXPECT_EQ(c.firstLabel, label(0));
        EXPECT_EQ(c.lastLabel, label(c.count - 1));
        ASSERT_EQ(c.messages, shown.messages.size()) << c.physical;
        if (c.messages)
            EXPECT_EQ(StartupMessage::TooManyGpus, shown.messages[0]);
        EXPECT_EQ(1, state->agentRunning.load());
    }
}

TEST_F(StartupTest, NamesAreCutAndBusNumbersKept) {
    gFake.gpus.resize(2);
    gFake.gpus[0].name = std::string(64, 'N'); // no terminator within the 64 bytes
    gFake.gpus[0].busId = 33;
    gFake.gpus[1].busStatus = NVAPI_ERROR;
    gFake.gpus[1].busId = 44;
    ASSERT_TRUE(run());
    EXPECT_EQ(std::wstring(39, L'N'), std::wstring(state->slots[0].fullName));
    EXPECT_EQ(33u, state->slots[0].busId);
    EXPECT_EQ(0u, state->slots[1].busId);
}

TEST_F(StartupTest, RecordVersionsPickTheNewestAccepted) {
    struct Case {
        const char* what;
        std::set<uint32_t> rejected;
        uint32_t clock, pstates, thermal, memory, cooler;
    } cases[] = {
        {"all newest", {}, 0x30108, 0x31CF8, 0x20044, 0x20018, 0x40558},
        {"one step back", {0x30108, 0x31CF8, 0x40558}, 0x20108, 0x21CF8, 0x20044, 0x20018, 0x30508},
        {"oldest taken untried",
         {0x30108, 0x20108, 0x31CF8, 0x21CF8, 0x20044, 0x20018, 0x40558, 0x30508, 0x203C8, 0x103C8},
         0x10108,
         0x11C94,
         0x10044,
         0x10014,
         0x10098},
        {"cooler third", {0x40558, 0x30508}, 0x30108, 0x31CF8, 0x20044, 0x20018, 0x203C8},
        {"cooler fourth", {0x40558, 0x30508, 0x203C8}, 0x30108, 0x31CF8, 0x20044, 0x20018, 0x103C8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        gFake.gpus.resize(2);
        gFake.gpus[1].rejected = c.rejected;
        ASSERT_TRUE(run());
        const uint32_t* v = state->slots[1].recordVersions;
        EXPECT_EQ((std::vector<uint32_t>{c.clock, c.pstates, c.thermal, c.memory, c.cooler}),
                  std::vector<uint32_t>(v, v + kRecordVersionCount));
        // Versions taken untried are never offered to the driver.
        for (uint32_t tried : gFake.triedVersions)
            EXPECT_TRUE(tried != 0x10108 && tried != 0x11C94 && tried != 0x10044 && tried != 0x10014 &&
                        tried != 0x10098)
                << std::hex << tried;
        EXPECT_EQ(0x30108u, recordVersion(state->slots[0], RecordVersion::Clock));
    }
}

TEST_F(StartupTest, ClockProbePausesBeforeItsSecondTry) {
    gFake.gpus[0].rejected = {0x30108};
    ASSERT_TRUE(run());
    ASSERT_EQ(1u, gFake.sleepMs.size());
    EXPECT_EQ(1, gFake.sleepMs[0]);
}

TEST_F(StartupTest, WindowsVersions) {
    struct Case {
        uint32_t major, minor;
        bool ok;
    } cases[] = {{5, 1, false}, {6, 0, false}, {6, 1, true}, {6, 2, true}, {6, 3, true}, {10, 0, true}};
    for (const Case& c : cases)
        EXPECT_EQ(c.ok, windowsVersionSupported(c.major, c.minor)) << c.major << "." << c.minor;
}

TEST_F(StartupTest, TooManyGpusMessageHasThreeLines) {
    EXPECT_EQ(
        std::wstring(
            L"ビデオカードが9枚以上存在します\n認識できるビデオカードは8枚までです\n8枚までを認識します"),
        startupMessageText(StartupMessage::TooManyGpus));
}

} // namespace
