#include "agent/windows/sampler.h"

#include "agent/windows/startup.h"
#include "tests/support/fake_driver.h"

#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

void record(void* context, StartupMessage m) {
    static_cast<std::vector<StartupMessage>*>(context)->push_back(m);
}

// A driver with one GPU and a running Agent; start-up's messages land in shown.
struct SamplerTest : ::testing::Test {
    std::unique_ptr<AgentState> state;
    std::unique_ptr<NvapiGpus> gpus = std::make_unique<NvapiGpus>();
    std::vector<StartupMessage> shown;
    void SetUp() override {
        resetFakeDriver();
        gFake.gpus.resize(1);
        state = std::make_unique<AgentState>();
        state->agentRunning.store(1);
        shown.clear();
    }
    bool run() { return startSampler(*state, *gpus, fakeDriverTable(), StartupCallbacks{&shown, record}); }
    void pass() { samplePass(*state, *gpus, fakeDriverTable()); }
    GpuSample sample(int slot) {
        GpuSample all[kGpuSlotCount];
        snapshotSamples(*state, all);
        return all[slot];
    }
    std::string label(int slot) { return sample(slot).tabLabel; }
    // The first slots' fields and labels as " name=value ", slot 1's written "1:name".
    std::string readings(int slots) {
        std::string text = " ";
        for (int slot = 0; slot < slots; ++slot) {
            GpuSample s = sample(slot);
            std::string prefix = slot ? "1:" : "";
            for (int k = 0; k < kSampleFieldCount; ++k)
                text += prefix + kSampleFields[k].name + "=" + std::to_string(sampleFieldBits(s, k)) + " ";
            text += prefix + "label=" + s.tabLabel + " ";
        }
        return text;
    }
};

// NVML numbers devices by bus, the slots list display GPUs first: the TCC card
// on bus 1 is NVML's device 0 but slot 1.
void tccOnBus1(FakeDriver& f) {
    f.gpus.resize(2);
    FakeGpu& tcc = f.gpus[0];
    tcc.tcc = true;
    tcc.nvmlDriverModel = NVML_DRIVER_WDM;
    tcc.nvmlPower = 250000;
    tcc.nvmlMemory.total = 40ull << 30;
    tcc.gpuUsage = 88;
    f.gpus[1].busId = f.gpus[1].nvmlBus = 2;
}

// P-state clock entries from (domain, type, frequency, upper end) quadruples.
template <typename... T> std::vector<FakeClockEntry> entries(T... values) {
    std::vector<uint32_t> flat{static_cast<uint32_t>(values)...};
    std::vector<FakeClockEntry> list;
    for (size_t k = 0; k + 3 < flat.size(); k += 4)
        list.push_back({flat[k], flat[k + 1], flat[k + 2], flat[k + 3]});
    return list;
}

using Change = void (*)(FakeDriver&);
struct Case {
    const char* what;
    Change setup;  // before start-up
    Change change; // between a first and a second pass; null: one pass
    // "field=value ...", a field of slot 1 written "1:field".
    const char* expect;
    // When given, only the P-state table gives base clocks: the base query fails.
    std::vector<FakeClockEntry> pstate = {};
};

const Case kCases[] = {
    {"readings of a working GPU",
     [](FakeDriver& f) {
         f.gpus[0].pstate = 8;
         f.gpus[0].processorPresent = true;
         f.gpus[0].clocks[0][2] = 1400000;
         f.gpus[0].clocks[1][2] = 1300000;
         f.gpus[0].rpmValid = 0x80;
     },
     nullptr,
     "graphicsClock=1733000 memoryClock=5005000 processorClock=1400000 videoClock=1620000 "
     "graphicsClockRated=1607000 memoryClockRated=5005000 processorClockRated=1300000 "
     "videoClockRated=1506000 coreVoltageRated=1062500 coreVoltage=1043000 fanLevel=33 fanRpm=1125 "
     "powerDraw=65432 powerLimit=180000 temperature=54 pState=8 memoryControllerLoad=21 videoEngineLoad=14 "
     "busInterfaceLoad=3 gpuLoad=37"},
    {"partial failures: memory use, voltage, rpm flag, first engine load, power limit, video, boost, init",
     [](FakeDriver& f) {
         FakeGpu& g = f.gpus[0];
         g.memoryInfoStatus = g.dynamicStatus[0] = NVAPI_ERROR;
         g.voltage = g.rpmValid = 0;
         g.videoPresent = false;
         g.clockStatus[2] = NVAPI_NOT_SUPPORTED;
         g.nvmlLimitStatus = NVML_ERROR_NOT_SUPPORTED;
         f.directMissing.insert(nvapi_id::NvAPI_Initialize);
     },
     nullptr,
     "videoClockSupported=0 videoClock=0 memoryUsageSupported=0 memoryTotal=8388608 "
     "coreVoltageRatedSupported=1 coreVoltageSupported=0 fanLevelSupported=1 fanRpmSupported=0 "
     "memoryControllerLoadSupported=0 videoEngineLoad=14 busInterfaceLoad=3 powerDrawSupported=0 "
     "powerDraw=0 gpuLoadSupported=0 graphicsClock=1733000 graphicsClockScale=0 memoryClockScale=0"},
    {"no base voltage, coolers, power usage, enumeration, bus or PCI match; older memory record: all in use",
     [](FakeDriver& f) {
         FakeGpu& g = f.gpus[0];
         g.baseVoltage = g.coolerCount = 0;
         g.nvmlPowerStatus = NVML_ERROR_NOT_SUPPORTED;
         g.busStatus = NVAPI_ERROR;
         g.nvmlPciStatus = NVML_ERROR_UNKNOWN;
         g.rejected.insert(NV_DISPLAY_DRIVER_MEMORY_INFO_VER_2);
         f.directMissing.insert(nvapi_id::NvAPI_EnumPhysicalGPUs);
     },
     nullptr,
     "coreVoltageRatedSupported=0 coreVoltageSupported=0 fanLevelSupported=0 fanRpmSupported=0 "
     "powerDrawSupported=0 powerLimit=0 gpuLoadSupported=0 memoryUsageSupported=1 memoryUsage=8388608 "
     "driverModelSupported=0"},
    {"P-state single frequencies, the first entry of a domain wins, the eighth entry is read", nullptr,
     nullptr,
     "graphicsClockRated=1500000 memoryClockRated=4000000 processorClockRated=0 videoClockRated=1100000",
     entries(0, 0, 1500000, 0, 0, 0, 2000, 0, 7, 1, 0, 0, 7, 0, 3000, 0, 8, 0, 1100000, 0, 99, 0, 1, 0, 99, 0,
             1, 0, 4, 0, 4000000, 0)},
    {"P-state ranges: lower end for graphics and memory, frequency for the others", nullptr, nullptr,
     "graphicsClockRated=300000 memoryClockRated=405000 processorClockRated=600000 videoClockRated=500000",
     entries(0, 1, 300000, 1900000, 4, 1, 405000, 5000000, 7, 1, 600000, 1700000, 8, 1, 500000, 1600000)},
    {"P-state processor and video with 0 take the range's upper end", nullptr, nullptr,
     "graphicsClockRated=0 memoryClockRated=0 processorClockRated=1700000 videoClockRated=1600000",
     entries(7, 1, 0, 1700000, 8, 1, 0, 1600000)},
    {"scales never shrink",
     [](FakeDriver& f) {
         f.gpus[0].clocks[2][0] = 1900000;
         f.gpus[0].clocks[2][1] = 950000;
     },
     [](FakeDriver& f) { f.gpus[0].clocks[0][0] = f.gpus[0].clocks[2][0] = f.gpus[0].clocks[2][1] = 100; },
     "graphicsClockScale=1900000 memoryClockScale=5005000"},
    {"more available than present keeps the last memory use", [](FakeDriver&) {},
     [](FakeDriver& f) { f.gpus[0].curAvailableKb = 9000000; },
     "memoryUsageSupported=1 memoryUsage=1203456 memoryTotal=8388608"},
    {"the first device on the bus is taken even when its call fails",
     [](FakeDriver& f) {
         f.gpus.resize(2);
         f.gpus[1].busId = 9;
         f.gpus[1].nvmlPower = 1001;
         f.gpus[0].nvmlDriverModelStatus = NVML_ERROR_UNKNOWN;
     },
     nullptr, "driverModelSupported=0 powerDraw=65432 1:powerDrawSupported=0"},
    {"TCC memory from NvAPI until the driver model is known", tccOnBus1, nullptr,
     "1:memoryTotal=8388608 1:memoryUsage=1203456 1:driverModelSupported=1 1:driverModel=1"},
    {"TCC card on the lower bus gives its readings to its own slot, odd bytes rounded down; newer memory use",
     tccOnBus1, [](FakeDriver& f) { f.gpus[1].curAvailableKb = 6185152; },
     "powerDraw=65432 powerLimit=180000 driverModel=0 memoryTotal=8388608 memoryUsage=2203456 gpuLoad=37 "
     "1:powerDraw=250000 1:powerLimit=180000 1:driverModel=1 1:memoryTotal=41943040 1:memoryUsage=3145728 "
     "1:gpuLoad=88"},
};

TEST_F(SamplerTest, ReadingsFromTheDriver) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.what);
        SetUp();
        if (c.setup)
            c.setup(gFake);
        gFake.gpus[0].pstateClocks = c.pstate;
        if (!c.pstate.empty())
            gFake.gpus[0].clockStatus[1] = NVAPI_NOT_SUPPORTED;
        ASSERT_TRUE(run());
        pass();
        if (c.change) {
            c.change(gFake);
            pass();
        }
        std::istringstream expect(c.expect);
        std::string actual = readings(2);
        for (std::string item; expect >> item;)
            EXPECT_NE(std::string::npos, actual.find(" " + item + " ")) << item << " in" << actual;
    }
}

TEST_F(SamplerTest, FlagsNeverClearAndReadingsKeepTheirLastValue) {
    gFake.gpus[0].processorPresent = true;
    ASSERT_TRUE(run());
    pass();
    std::string before = readings(1);
    EXPECT_EQ(std::string::npos, before.find("Supported=0")) << before;
    // Everything fails from now on.
    FakeGpu& g = gFake.gpus[0];
    g.clockStatus[0] = g.clockStatus[1] = g.clockStatus[2] = g.pstatesStatus = g.frameBufferStatus =
        g.memoryInfoStatus = g.thermalStatus = g.pstateStatus = g.coolerStatus = g.voltageStatus =
            g.displayStatus = g.dynamicStatus[0] = g.dynamicStatus[1] = g.dynamicStatus[2] = NVAPI_ERROR;
    g.nvmlPowerStatus = g.nvmlLimitStatus = g.nvmlMemoryStatus = NVML_ERROR_UNKNOWN;
    g.usageStatus = NVAPI_INVALID_HANDLE;
    pass();
    EXPECT_EQ(before, readings(1));
    // The sampler ends after a pass once the Agent stops, without a last pause.
    state->agentRunning.store(0);
    EXPECT_EQ(0, runSampler(*state, *gpus, fakeDriverTable(), 1000));
    EXPECT_EQ(std::vector<int>{}, gFake.sleepMs);
}

// Names are cut to their first 39 characters; a bus number the driver
// refuses reads as 0.
TEST_F(SamplerTest, PhysicalThenTccGpus) {
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

TEST_F(SamplerTest, FailuresEndStartUpWithTheirMessage) {
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

TEST_F(SamplerTest, GpuCountIsCutToEight) {
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
TEST_F(SamplerTest, RecordVersionsPickTheNewestAccepted) {
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
        const uint32_t* v = gpus->recordVersions[1];
        EXPECT_EQ(c.versions, std::vector<uint32_t>(v, v + kRecordVersionCount)) << c.versions[4];
        // Versions taken untried are never offered to the driver.
        for (uint32_t tried : gFake.triedVersions)
            EXPECT_EQ(1u, all.count(tried)) << std::hex << tried;
        EXPECT_EQ(0x30108u, recordVersion(*gpus, 0, RecordVersion::Clock));
        EXPECT_EQ(std::vector<int>(c.pauses, 1), gFake.sleepMs) << c.versions[4];
    }
}

TEST(WindowsVersion, SevenAndLaterAreSupported) {
    const uint32_t cases[][3] = {{6, 0, 0}, {6, 1, 1}, {6, 2, 1}, {10, 0, 1}}; // major, minor, supported
    for (const auto& c : cases)
        EXPECT_EQ(c[2] != 0, windowsVersionSupported(c[0], c[1])) << c[0] << "." << c[1];
}

} // namespace
