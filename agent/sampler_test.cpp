#include "agent/sampler.h"

#include "tests/support/fake_driver.h"
#include "agent/startup.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

namespace {

const std::string kSetsuzoku = "\x90\xDA\x91\xB1";

struct SamplerTest : ::testing::Test {
    std::unique_ptr<AgentState> state = std::make_unique<AgentState>();

    void SetUp() override {
        resetFakeDriver();
        gFake.gpus.resize(1);
    }
    // Start-up over the fake, then the slots as the sampler finds them.
    void start() {
        state->agentRunning.store(1);
        ASSERT_TRUE(prepareGpus(*state, fakeDriverTable(), StartupHooks{}));
    }
    void pass() { samplePass(*state, fakeDriverTable()); }
    GpuSample sample(int slot) {
        GpuSample all[kGpuSlotCount];
        snapshotSamples(*state, all);
        return all[slot];
    }
};

TEST_F(SamplerTest, CurrentClocksFollowTheDomainsPresent) {
    struct Case {
        bool processor, video;
    } cases[] = {{false, false}, {true, false}, {false, true}, {true, true}};
    for (const Case& c : cases) {
        SetUp();
        gFake.gpus[0].processorPresent = c.processor;
        gFake.gpus[0].videoPresent = c.video;
        gFake.gpus[0].clocks[0][2] = 1400000;
        start();
        pass();
        GpuSample s = sample(0);
        EXPECT_EQ(1u, s.graphicsClockSupported);
        EXPECT_EQ(1u, s.memoryClockSupported);
        EXPECT_EQ(1733000u, s.graphicsClock);
        EXPECT_EQ(5005000u, s.memoryClock);
        EXPECT_EQ(c.processor ? 1u : 0u, s.processorClockSupported);
        EXPECT_EQ(c.processor ? 1400000u : 0u, s.processorClock);
        EXPECT_EQ(c.video ? 1u : 0u, s.videoClockSupported);
        EXPECT_EQ(c.video ? 1620000u : 0u, s.videoClock);
    }
}

TEST_F(SamplerTest, FailedCurrentClocksLeaveEverythingAtZero) {
    gFake.gpus[0].clockStatus[0] = NVAPI_NOT_SUPPORTED;
    start();
    pass();
    GpuSample s = sample(0);
    EXPECT_EQ(0u, s.graphicsClockSupported);
    EXPECT_EQ(0u, s.memoryClockSupported);
    EXPECT_EQ(0u, s.graphicsClock);
    EXPECT_EQ(0u, s.videoClockSupported);
}

TEST_F(SamplerTest, BaseClocksFromTheBaseQuery) {
    gFake.gpus[0].clocks[1][2] = 1300000;
    start();
    pass();
    GpuSample s = sample(0);
    EXPECT_EQ(1607000u, s.graphicsClockRated);
    EXPECT_EQ(5005000u, s.memoryClockRated);
    EXPECT_EQ(1300000u, s.processorClockRated);
    EXPECT_EQ(1506000u, s.videoClockRated);
}

TEST_F(SamplerTest, BaseClocksFallBackToThePstateTable) {
    struct Case {
        const char* what;
        std::vector<FakeClockEntry> entries;
        uint32_t graphics, memory, processor, video;
    } cases[] = {
        {"single frequencies",
         {{0, 0, 1500000, 0}, {4, 0, 4000000, 0}, {7, 0, 1200000, 0}, {8, 0, 1100000, 0}},
         1500000,
         4000000,
         1200000,
         1100000},
        {"ranges: lower end for graphics and memory, frequency for the others",
         {{0, 1, 300000, 1900000}, {4, 1, 405000, 5000000}, {7, 1, 600000, 1700000}, {8, 1, 500000, 1600000}},
         300000,
         405000,
         600000,
         500000},
        {"processor and video with 0 take the range's upper end",
         {{7, 1, 0, 1700000}, {8, 1, 0, 1600000}},
         0,
         0,
         1700000,
         1600000},
        {"processor and video with nothing stay unchanged", {{7, 1, 0, 0}, {8, 0, 0, 0}}, 0, 0, 0, 0},
        {"graphics with 0 is taken as 0", {{0, 0, 0, 0}}, 0, 0, 0, 0},
        {"first entry of a domain wins",
         {{0, 0, 1000, 0}, {0, 0, 2000, 0}, {7, 1, 0, 0}, {7, 0, 3000, 0}},
         1000,
         0,
         0,
         0},
        {"absent domains stay unchanged", {{5, 0, 9999, 0}}, 0, 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        FakeGpu& g = gFake.gpus[0];
        g.clockStatus[1] = NVAPI_NOT_SUPPORTED;
        g.pstateClocks = c.entries;
        start();
        pass();
        GpuSample s = sample(0);
        EXPECT_EQ(c.graphics, s.graphicsClockRated);
        EXPECT_EQ(c.memory, s.memoryClockRated);
        EXPECT_EQ(c.processor, s.processorClockRated);
        EXPECT_EQ(c.video, s.videoClockRated);
    }
}

TEST_F(SamplerTest, FallbackKeepsEarlierBaseClocksWhenTheTableFails) {
    start();
    pass();
    gFake.gpus[0].clockStatus[1] = NVAPI_ERROR;
    gFake.gpus[0].pstatesStatus = NVAPI_ERROR;
    pass();
    GpuSample s = sample(0);
    EXPECT_EQ(1607000u, s.graphicsClockRated);
    EXPECT_EQ(1506000u, s.videoClockRated);
}

// The driver reports every entry it writes; the sampler reads the table's eight.
TEST_F(SamplerTest, ClockCountBeyondTheTableIsBounded) {
    struct Case {
        size_t entries;
        uint32_t memory;
    } cases[] = {{8, 4200000}, {9, 0}, {40, 0}};
    for (const Case& c : cases) {
        SetUp();
        FakeGpu& g = gFake.gpus[0];
        g.clockStatus[1] = NVAPI_NOT_SUPPORTED;
        g.pstateClocks.assign(c.entries, {99, 0, 1, 0});
        g.pstateClocks.back() = {4, 0, 4200000, 0};
        start();
        pass();
        EXPECT_EQ(c.memory, sample(0).memoryClockRated) << c.entries;
    }
}

TEST_F(SamplerTest, ScalesOnlyGrow) {
    struct Step {
        uint32_t current, boost, expected;
    } steps[] = {
        {1700000, 1900000, 1900000}, {2000000, 1800000, 2000000}, {100, 100, 2000000}, {0, 0, 2000000}};
    start();
    for (const Step& st : steps) {
        gFake.gpus[0].clocks[0][0] = st.current;
        gFake.gpus[0].clocks[2][0] = st.boost;
        gFake.gpus[0].clocks[0][1] = st.current / 2;
        gFake.gpus[0].clocks[2][1] = st.boost / 2;
        pass();
        EXPECT_EQ(st.expected, sample(0).graphicsClockScale);
        EXPECT_EQ(st.expected / 2, sample(0).memoryClockScale);
    }
}

TEST_F(SamplerTest, ScalesStayZeroWhenBoostAlwaysFails) {
    gFake.gpus[0].clockStatus[2] = NVAPI_NOT_SUPPORTED;
    start();
    for (int i = 0; i < 3; ++i)
        pass();
    GpuSample s = sample(0);
    EXPECT_EQ(1733000u, s.graphicsClock);
    EXPECT_EQ(0u, s.graphicsClockScale);
    EXPECT_EQ(0u, s.memoryClockScale);
}

TEST_F(SamplerTest, TccGpuMemoryMovesFromNvapiToNvml) {
    gFake.gpus.resize(2);
    gFake.gpus[0].busId = gFake.gpus[0].nvmlBus = 3;
    FakeGpu& tcc = gFake.gpus[1];
    tcc.tcc = true;
    tcc.busId = tcc.nvmlBus = 7;
    tcc.nvmlDriverModel = NVML_DRIVER_WDM;
    tcc.frameBufferKb = 4096;
    tcc.dedicatedKb = 4096;
    tcc.curAvailableKb = 1024;
    start();
    sampleSlot(*state, fakeDriverTable(), 1);
    GpuSample first = sample(1);
    EXPECT_EQ(1u, gFake.frameBufferCalls);
    EXPECT_EQ(0, gFake.nvmlMemoryCalls);
    EXPECT_EQ(4096u, first.memoryTotal);
    EXPECT_EQ(3072u, first.memoryUsage);
    EXPECT_EQ(1u, first.driverModelSupported);
    EXPECT_EQ(1, first.driverModel);

    sampleSlot(*state, fakeDriverTable(), 1);
    GpuSample second = sample(1);
    EXPECT_EQ(1u, gFake.frameBufferCalls);
    EXPECT_EQ(1, gFake.nvmlMemoryCalls);
    EXPECT_EQ(1u, second.memoryUsageSupported);
    EXPECT_EQ(static_cast<uint32_t>((16ull << 30) / 1024), second.memoryTotal);
    EXPECT_EQ(static_cast<uint32_t>(3ull << 20), second.memoryUsage); // the odd bytes round down
}

// A second pass with the case's figures, after one with 1203456 KiB in use.
TEST_F(SamplerTest, NvapiMemoryUseWithEachRecordVersion) {
    struct Case {
        bool oldRecord;
        uint32_t dedicated, available, used;
    } cases[] = {{false, 8388608, 6185152, 2203456},
                 {true, 8388608, 7185152, 8388608},
                 {false, 100, 200, 1203456}}; // more available than present: no new figure
    for (const Case& c : cases) {
        SetUp();
        FakeGpu& g = gFake.gpus[0];
        if (c.oldRecord)
            g.rejected.insert(NV_DISPLAY_DRIVER_MEMORY_INFO_VER_2);
        start();
        pass();
        g.dedicatedKb = c.dedicated;
        g.curAvailableKb = c.available;
        pass();
        GpuSample s = sample(0);
        EXPECT_EQ(1u, s.memoryUsageSupported);
        EXPECT_EQ(c.used, s.memoryUsage);
        EXPECT_EQ(8388608u, s.memoryTotal);
    }
}

TEST_F(SamplerTest, FrameBufferFailureSkipsMemoryUse) {
    gFake.gpus[0].frameBufferStatus = NVAPI_NOT_SUPPORTED;
    start();
    pass();
    EXPECT_EQ(0u, sample(0).memoryUsageSupported);
    EXPECT_EQ(0u, sample(0).memoryTotal);
}

TEST_F(SamplerTest, MemoryTotalMayComeWithoutMemoryUse) {
    gFake.gpus[0].memoryInfoStatus = NVAPI_NOT_SUPPORTED;
    start();
    pass();
    EXPECT_EQ(0u, sample(0).memoryUsageSupported);
    EXPECT_EQ(8388608u, sample(0).memoryTotal);
}

TEST_F(SamplerTest, VoltagesNeedANonZeroBaseVoltage) {
    struct Case {
        uint32_t base;
        NvAPI_Status status;
        uint32_t current;
        uint32_t ratedFlag, currentFlag;
    } cases[] = {
        {1062500, NVAPI_OK, 1043000, 1, 1},
        {0, NVAPI_OK, 1043000, 0, 0},
        {1062500, NVAPI_ERROR, 1043000, 1, 0},
        {1062500, NVAPI_OK, 0, 1, 0},
    };
    for (const Case& c : cases) {
        SetUp();
        gFake.gpus[0].baseVoltage = c.base;
        gFake.gpus[0].voltageStatus = c.status;
        gFake.gpus[0].voltage = c.current;
        start();
        pass();
        GpuSample s = sample(0);
        EXPECT_EQ(c.ratedFlag, s.coreVoltageRatedSupported) << c.base;
        EXPECT_EQ(c.ratedFlag ? c.base : 0u, s.coreVoltageRated);
        EXPECT_EQ(c.currentFlag, s.coreVoltageSupported);
        EXPECT_EQ(c.currentFlag ? c.current : 0u, s.coreVoltage);
    }
}

TEST_F(SamplerTest, FanNeedsCoolersAndTheRpmFlag) {
    struct Case {
        NvAPI_Status status;
        uint32_t count;
        uint8_t rpmValid;
        uint32_t levelFlag, rpmFlag;
    } cases[] = {
        {NVAPI_OK, 1, 1, 1, 1},    {NVAPI_OK, 1, 0, 1, 0},    {NVAPI_OK, 0, 1, 0, 0},
        {NVAPI_ERROR, 1, 1, 0, 0}, {NVAPI_OK, 2, 0x80, 1, 1},
    };
    for (const Case& c : cases) {
        SetUp();
        gFake.gpus[0].coolerStatus = c.status;
        gFake.gpus[0].coolerCount = c.count;
        gFake.gpus[0].rpmValid = c.rpmValid;
        start();
        pass();
        GpuSample s = sample(0);
        EXPECT_EQ(c.levelFlag, s.fanLevelSupported);
        EXPECT_EQ(c.levelFlag ? 33u : 0u, s.fanLevel);
        EXPECT_EQ(c.rpmFlag, s.fanRpmSupported);
        EXPECT_EQ(c.rpmFlag ? 1125u : 0u, s.fanRpm);
    }
}

TEST_F(SamplerTest, GpuLoadThroughTheDirectLookup) {
    gFake.gpus.resize(2);
    gFake.gpus[0].gpuUsage = 37;
    gFake.gpus[1].tcc = true;
    gFake.gpus[1].gpuUsage = 88;
    gFake.gpus[1].busId = gFake.gpus[1].nvmlBus = 2;
    start();
    pass();
    // Each slot asks with its own handle, the TCC slot included.
    ASSERT_EQ(2u, gFake.usageHandles.size());
    EXPECT_EQ(reinterpret_cast<uintptr_t>(fakeHandle(0)), gFake.usageHandles[0]);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(fakeHandle(1)), gFake.usageHandles[1]);
    EXPECT_EQ(1u, sample(0).gpuLoadSupported);
    EXPECT_EQ(37, sample(0).gpuLoad);
    EXPECT_EQ(1u, sample(1).gpuLoadSupported);
    EXPECT_EQ(88, sample(1).gpuLoad);
}

TEST_F(SamplerTest, AFailedGpuLoadQueryLeavesFlagAndLoadAsTheyWere) {
    struct Pass {
        NvAPI_Status status;
        uint32_t usage, flag;
        int32_t load;
    } passes[] = {{NVAPI_ERROR, 50, 0, 0}, {NVAPI_OK, 61, 1, 61}, {NVAPI_INVALID_HANDLE, 70, 1, 61}};
    start();
    for (const Pass& p : passes) {
        gFake.gpus[0].usageStatus = p.status;
        gFake.gpus[0].gpuUsage = p.usage;
        pass();
        EXPECT_EQ(p.flag, sample(0).gpuLoadSupported) << p.usage;
        EXPECT_EQ(p.load, sample(0).gpuLoad) << p.usage;
    }
}

TEST_F(SamplerTest, GpuLoadNeedsAllThreeLookups) {
    struct Case {
        bool library;
        uint32_t missing;
    } cases[] = {{false, 0},
                 {true, nvapi_id::NvAPI_Initialize},
                 {true, nvapi_id::NvAPI_EnumPhysicalGPUs},
                 {true, nvapi_id::GpuUsageQuery}};
    for (const Case& c : cases) {
        SetUp();
        gFake.directLibrary = c.library;
        if (c.missing)
            gFake.directMissing.insert(c.missing);
        start();
        pass();
        EXPECT_EQ(0u, sample(0).gpuLoadSupported) << std::hex << c.missing;
        EXPECT_EQ(0, sample(0).gpuLoad);
        EXPECT_TRUE(gFake.usageHandles.empty());
    }
}

TEST_F(SamplerTest, PowerNeedsBothNvmlCalls) {
    struct Case {
        const char* what;
        nvmlReturn_t usage, limit;
        const char* missing;
        uint32_t flag;
    } cases[] = {
        {"both", NVML_SUCCESS, NVML_SUCCESS, nullptr, 1},
        {"usage fails", NVML_ERROR_NOT_SUPPORTED, NVML_SUCCESS, nullptr, 0},
        {"limit fails", NVML_SUCCESS, NVML_ERROR_NOT_SUPPORTED, nullptr, 0},
        {"limit not exported", NVML_SUCCESS, NVML_SUCCESS, "nvmlDeviceGetPowerManagementLimit", 0},
        {"usage not exported", NVML_SUCCESS, NVML_SUCCESS, "nvmlDeviceGetPowerUsage", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        gFake.gpus[0].nvmlPowerStatus = c.usage;
        gFake.gpus[0].nvmlLimitStatus = c.limit;
        if (c.missing)
            gFake.nvmlMissing.insert(c.missing);
        start();
        pass();
        GpuSample s = sample(0);
        EXPECT_EQ(c.flag, s.powerDrawSupported);
        EXPECT_EQ(c.flag ? 65432u : 0u, s.powerDraw);
        EXPECT_EQ(c.flag ? 180000u : 0u, s.powerLimit);
    }
}

TEST_F(SamplerTest, NvmlGoneSkipsPowerDriverModelAndTccMemory) {
    gFake.gpus[0].tcc = true;
    start();
    gFake.nvmlLoads = false;
    pass();
    pass();
    GpuSample s = sample(0);
    EXPECT_EQ(0u, s.powerDrawSupported);
    EXPECT_EQ(0u, s.driverModelSupported);
    EXPECT_EQ(0, gFake.nvmlMemoryCalls);
    EXPECT_EQ(1u, s.temperatureSupported); // NvAPI readings go on
}

// Power draw 1000 + j at NVML index j; 0 where no device has the slot's bus.
TEST_F(SamplerTest, NvmlDeviceFoundByBusNumber) {
    struct Case {
        const char* what;
        uint32_t nvmlBus[2];
        nvmlReturn_t pci[2];
        nvmlReturn_t model[2];
        uint32_t flag[2];
        int32_t value[2];
        uint32_t power[2];
    } cases[] = {
        {"devices in the other order", {9, 5}, {0, 0}, {0, 0}, {1, 1}, {0, 1}, {1001, 1000}},
        {"no match", {11, 12}, {0, 0}, {0, 0}, {0, 0}, {0, 0}, {0, 0}},
        {"first match stops even when its call fails",
         {5, 5},
         {0, 0},
         {NVML_ERROR_UNKNOWN, 0},
         {0, 0},
         {0, 0},
         {1000, 0}},
        {"failed PCI lookup never matches",
         {5, 9},
         {NVML_ERROR_UNKNOWN, 0},
         {0, 0},
         {0, 1},
         {0, 0},
         {0, 1001}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        gFake.gpus.resize(2);
        gFake.gpus[0].busId = 5;
        gFake.gpus[1].busId = 9;
        for (int j = 0; j < 2; ++j) {
            gFake.gpus[j].nvmlBus = c.nvmlBus[j];
            gFake.gpus[j].nvmlPciStatus = c.pci[j];
            gFake.gpus[j].nvmlDriverModelStatus = c.model[j];
            gFake.gpus[j].nvmlPower = 1000 + j;
        }
        gFake.gpus[0].nvmlDriverModel = NVML_DRIVER_WDM; // the device at NVML index 0
        gFake.gpus[1].nvmlDriverModel = NVML_DRIVER_WDDM;
        start();
        pass();
        for (int slot = 0; slot < 2; ++slot) {
            EXPECT_EQ(c.flag[slot], sample(slot).driverModelSupported) << slot;
            EXPECT_EQ(c.value[slot], sample(slot).driverModel) << slot;
            EXPECT_EQ(c.power[slot] ? 1u : 0u, sample(slot).powerDrawSupported) << slot;
            EXPECT_EQ(c.power[slot], sample(slot).powerDraw) << slot;
        }
    }
}

// NVML numbers its devices by bus, the slots list display GPUs first: the TCC
// card on bus 1 is NVML's device 0 but slot 1.
TEST_F(SamplerTest, TccCardOnTheLowerBusGivesItsReadingsToItsOwnSlot) {
    gFake.gpus.resize(2);
    FakeGpu& tcc = gFake.gpus[0];
    tcc.tcc = true;
    tcc.busId = tcc.nvmlBus = 1;
    tcc.nvmlDriverModel = NVML_DRIVER_WDM;
    tcc.nvmlPower = 250000;
    tcc.nvmlLimit = 300000;
    tcc.nvmlTotalBytes = 40ull << 30;
    tcc.nvmlUsedBytes = 5ull << 30;
    gFake.gpus[1].busId = gFake.gpus[1].nvmlBus = 2;
    struct Slot {
        uint32_t power, limit;
        int32_t model;
        uint32_t memoryTotal, memoryUsage;
    } slots[] = {{65432, 180000, 0, 8388608, 1203456}, {250000, 300000, 1, 40u << 20, 5u << 20}};
    start();
    pass();
    pass(); // the TCC slot's memory comes from NVML once its driver model is known
    for (int i = 0; i < 2; ++i) {
        GpuSample s = sample(i);
        EXPECT_EQ(slots[i].power, s.powerDraw) << i;
        EXPECT_EQ(slots[i].limit, s.powerLimit) << i;
        EXPECT_EQ(slots[i].model, s.driverModel) << i;
        EXPECT_EQ(slots[i].memoryTotal, s.memoryTotal) << i;
        EXPECT_EQ(slots[i].memoryUsage, s.memoryUsage) << i;
    }
}

TEST_F(SamplerTest, UnknownBusNumberDoesNotMatchAFailedLookup) {
    gFake.gpus[0].busStatus = NVAPI_ERROR; // busId stays 0
    gFake.gpus[0].nvmlPciStatus = NVML_ERROR_NOT_SUPPORTED;
    start();
    pass();
    EXPECT_EQ(0, gFake.driverModelCalls);
    EXPECT_EQ(0u, sample(0).driverModelSupported);
}

// Domains 0 to 3 hold 37, 21, 14 and 3 %: each engine load comes from its own
// domain, and a failed call leaves only its own pair unchanged.
TEST_F(SamplerTest, TemperaturePstateAndEngineLoads) {
    struct Case {
        int failing; // which of the three calls fails, -1 none
        uint32_t flag[3], load[3];
    } cases[] = {{-1, {1, 1, 1}, {21, 14, 3}},
                 {0, {0, 1, 1}, {0, 14, 3}},
                 {1, {1, 0, 1}, {21, 0, 3}},
                 {2, {1, 1, 0}, {21, 14, 0}}};
    for (const Case& c : cases) {
        SetUp();
        if (c.failing >= 0)
            gFake.gpus[0].dynamicStatus[c.failing] = NVAPI_ERROR;
        gFake.gpus[0].pstate = 8;
        start();
        pass();
        GpuSample s = sample(0);
        EXPECT_EQ(1u, s.temperatureSupported);
        EXPECT_EQ(54, s.temperature);
        EXPECT_EQ(1u, s.pStateSupported);
        EXPECT_EQ(8, s.pState);
        const uint32_t flags[3] = {s.memoryControllerLoadSupported, s.videoEngineLoadSupported,
                                   s.busInterfaceLoadSupported};
        const uint32_t loads[3] = {s.memoryControllerLoad, s.videoEngineLoad, s.busInterfaceLoad};
        for (int k = 0; k < 3; ++k) {
            EXPECT_EQ(c.flag[k], flags[k]) << c.failing << " " << k;
            EXPECT_EQ(c.load[k], loads[k]) << c.failing << " " << k;
        }
    }
}

TEST_F(SamplerTest, LabelsGetTheConnectorSuffix) {
    struct Case {
        const char* what;
        int gpus;
        NvAPI_Status countStatus, listStatus;
        uint32_t displays;
        int32_t connector;
        std::string label0;
    } cases[] = {
        {"one GPU, DisplayPort", 1, NVAPI_OK, NVAPI_OK, 1, 7, "Example GPU (DP " + kSetsuzoku + ")"},
        {"two GPUs, HDMI", 2, NVAPI_OK, NVAPI_OK, 2, 4, "Example GPU(1) (HDMI " + kSetsuzoku + ")"},
        {"no display keeps the start-up label", 2, NVAPI_OK, NVAPI_OK, 0, 7, "Example GPU(1)"},
        {"count fails", 2, NVAPI_ERROR, NVAPI_OK, 1, 7, "Example GPU(1)"},
        {"list fails", 1, NVAPI_OK, NVAPI_ERROR, 1, 7, "Example GPU"},
        {"absurd count", 1, NVAPI_OK, NVAPI_OK, 100000, 7, "Example GPU"},
        {"connector 9", 2, NVAPI_OK, NVAPI_OK, 1, 9, "Example GPU(1)"},
        {"connector -2", 1, NVAPI_OK, NVAPI_OK, 1, -2, "Example GPU"},
        {"connector -1", 1, NVAPI_OK, NVAPI_OK, 1, -1, "Example GPU (UNKNOWN " + kSetsuzoku + ")"},
        {"connector 0", 2, NVAPI_OK, NVAPI_OK, 1, 0, "Example GPU(1) (UNKNOWN " + kSetsuzoku + ")"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        gFake.gpus.resize(c.gpus);
        for (FakeGpu& g : gFake.gpus) {
            g.displayCountStatus = c.countStatus;
            g.displayStatus = c.listStatus;
            g.displayCount = c.displays;
            g.connector = c.connector;
        }
        start();
        pass();
        EXPECT_EQ(c.label0, std::string(sample(0).tabLabel));
    }
}

TEST_F(SamplerTest, LongNameLabelIsCutToItsField) {
    gFake.gpus.resize(2);
    gFake.gpus[1].name = "NVIDIA RTX 6000 Ada Generation Workstation Edition";
    gFake.gpus[1].connector = 8;
    start();
    pass();
    GpuSample s = sample(1);
    std::string label(s.tabLabel);
    std::string suffix = "(2) (COMPOSITE " + kSetsuzoku + ")";
    EXPECT_EQ(49u, label.size());
    EXPECT_EQ(suffix, label.substr(label.size() - suffix.size()));
    EXPECT_EQ(0, label.compare(0, 10, "NVIDIA RTX"));
}

TEST_F(SamplerTest, FlagsNeverClearAndReadingsKeepTheirLastValue) {
    gFake.gpus[0].processorPresent = true;
    gFake.gpus[0].clocks[0][2] = 1400000;
    start();
    pass();
    GpuSample before = sample(0);
    for (int k = 0; k < kSampleFieldCount; ++k) {
        if (kSampleFields[k].kind == WireKind::Flag) {
            EXPECT_EQ(1u, sampleFieldBits(before, k)) << kSampleFields[k].name;
        }
    }

    // Everything fails from now on.
    FakeGpu& g = gFake.gpus[0];
    for (NvAPI_Status& st : g.clockStatus)
        st = NVAPI_ERROR;
    g.pstatesStatus = g.frameBufferStatus = g.memoryInfoStatus = g.thermalStatus = g.pstateStatus =
        NVAPI_ERROR;
    for (NvAPI_Status& st : g.dynamicStatus)
        st = NVAPI_ERROR;
    g.coolerStatus = g.voltageStatus = g.displayCountStatus = NVAPI_ERROR;
    g.nvmlPowerStatus = g.nvmlLimitStatus = g.nvmlMemoryStatus = NVML_ERROR_UNKNOWN;
    gFake.directLibrary = false;
    pass();
    pass();
    GpuSample after = sample(0);
    for (int k = 0; k < kSampleFieldCount; ++k)
        EXPECT_EQ(sampleFieldBits(before, k), sampleFieldBits(after, k)) << kSampleFields[k].name;
    EXPECT_STREQ(before.tabLabel, after.tabLabel);
}

TEST_F(SamplerTest, SlotsAtOrAboveTheCountAreNeverWritten) {
    gFake.gpus.resize(2);
    start();
    pass();
    for (int slot = 2; slot < kGpuSlotCount; ++slot) {
        GpuSample s = sample(slot);
        EXPECT_EQ(std::wstring(L"- empty -"), std::wstring(s.fullName));
        EXPECT_STREQ("", s.tabLabel);
        for (int k = 0; k < kSampleFieldCount; ++k)
            EXPECT_EQ(0u, sampleFieldBits(s, k));
    }
}

TEST_F(SamplerTest, RunSamplerEndsAfterAPassWhenTheAgentStops) {
    start();
    state->agentRunning.store(0);
    EXPECT_EQ(0, runSampler(*state, fakeDriverTable(), 1000));
    EXPECT_EQ(1u, sample(0).graphicsClockSupported);
    for (int ms : gFake.sleepMs)
        EXPECT_NE(1000, ms); // no sleep after the last pass
}

} // namespace
