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

TEST_F(StartupTest, OneGpuHasNoSlotSuffix) {
    ASSERT_TRUE(run());
    EXPECT_EQ(1, state->gpuCount.load());
    EXPECT_EQ("Example GPU", label(0));
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

TEST_F(StartupTest, NineGpusAreCutToEight) {
    gFake.gpus.resize(9);
    for (int k = 0; k < 9; ++k)
        gFake.gpus[k].name = "GPU " + std::to_string(k);
    ASSERT_TRUE(run());
    ASSERT_EQ(1u, shown.messages.size());
    EXPECT_EQ(StartupMessage::TooManyGpus, shown.messages[0]);
    EXPECT_EQ(8, state->gpuCount.load());
    EXPECT_EQ("GPU 0(1)", label(0));
    EXPECT_EQ("GPU 7(8)", label(7));
    EXPECT_EQ(1, state->agentRunning.load());
}

TEST_F(StartupTest, FullHandleListsDoNotOverrun) {
    gFake.gpus.resize(100);
    for (int k = 50; k < 100; ++k)
        gFake.gpus[k].tcc = true;
    ASSERT_TRUE(run());
    EXPECT_EQ(8, state->gpuCount.load());
    EXPECT_EQ(fakeHandle(49), state->gpuHandles[49]);
    EXPECT_EQ(fakeHandle(50), state->gpuHandles[50]);
    EXPECT_EQ(fakeHandle(63), state->gpuHandles[63]);
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
        EXPECT_EQ(c.clock, v[kClockRecord]);
        EXPECT_EQ(c.pstates, v[kPstatesRecord]);
        EXPECT_EQ(c.thermal, v[kThermalRecord]);
        EXPECT_EQ(c.memory, v[kMemoryRecord]);
        EXPECT_EQ(c.cooler, v[kCoolerRecord]);
        // Versions taken untried are never offered to the driver.
        for (uint32_t tried : gFake.triedVersions)
            EXPECT_TRUE(tried != 0x10108 && tried != 0x11C94 && tried != 0x10044 && tried != 0x10014 &&
                        tried != 0x10098)
                << std::hex << tried;
        EXPECT_EQ(0x30108u, state->slots[0].recordVersions[kClockRecord]);
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
    std::wstring text = startupMessageText(StartupMessage::TooManyGpus);
    size_t first = text.find(L'\n');
    size_t second = text.find(L'\n', first + 1);
    ASSERT_NE(std::wstring::npos, second);
    EXPECT_EQ(std::wstring::npos, text.find(L'\n', second + 1));
    EXPECT_EQ(0u, text.find(L"ビデオカードが9枚以上存在します"));
    EXPECT_EQ(L"8枚までを認識します", text.substr(second + 1));
}

} // namespace
