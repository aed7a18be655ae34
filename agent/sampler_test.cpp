#include "agent/sampler.h"

#include "agent/startup.h"
#include "tests/support/fake_driver.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

const std::string kSetsuzoku = "\x90\xDA\x91\xB1";

struct SamplerTest : ::testing::Test {
    std::unique_ptr<AgentState> state = std::make_unique<AgentState>();

    void SetUp() override {
        state = std::make_unique<AgentState>();
        resetFakeDriver();
        gFake.gpus.resize(1);
    }
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

// A second GPU in the TCC model on bus 7.
void tccOnBus7(FakeDriver& f) {
    f.gpus.resize(2);
    f.gpus[1].tcc = true;
    f.gpus[1].busId = f.gpus[1].nvmlBus = 7;
    f.gpus[1].nvmlDriverModel = NVML_DRIVER_WDM;
}

// Two GPUs on buses 5 and 9; NVML's devices at indices 0 and 1 draw 1000 and
// 1001 mW, the first in the WDM model.
void twoGpus(FakeDriver& f, uint32_t nvmlBus0, uint32_t nvmlBus1) {
    f.gpus.resize(2);
    f.gpus[0].busId = 5;
    f.gpus[1].busId = 9;
    f.gpus[0].nvmlBus = nvmlBus0;
    f.gpus[1].nvmlBus = nvmlBus1;
    f.gpus[0].nvmlPower = 1000;
    f.gpus[1].nvmlPower = 1001;
    f.gpus[0].nvmlDriverModel = NVML_DRIVER_WDM;
}

// P-state clock entries from (domain, type, frequency, upper end) quadruples.
template <typename... T> std::vector<FakeClockEntry> entries(T... values) {
    std::vector<uint32_t> flat{static_cast<uint32_t>(values)...};
    std::vector<FakeClockEntry> list;
    for (size_t k = 0; k + 3 < flat.size(); k += 4)
        list.push_back({flat[k], flat[k + 1], flat[k + 2], flat[k + 3]});
    return list;
}

// Entries of another domain, then the memory clock at 4.2 GHz.
std::vector<FakeClockEntry> memoryAfter(size_t others) {
    std::vector<FakeClockEntry> list(others, {99, 0, 1, 0});
    list.push_back({4, 0, 4200000, 0});
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
    std::vector<FakeClockEntry> pstate;
};

const Case kCases[] = {
    {"processor clock present, video clock absent",
     [](FakeDriver& f) {
         f.gpus[0].processorPresent = true;
         f.gpus[0].videoPresent = false;
         f.gpus[0].clocks[0][2] = 1400000;
     },
     nullptr,
     "graphicsClockSupported=1 memoryClockSupported=1 graphicsClock=1733000 memoryClock=5005000 "
     "processorClockSupported=1 processorClock=1400000 videoClockSupported=0 videoClock=0"},
    {"video clock present, processor clock absent", nullptr, nullptr,
     "processorClockSupported=0 processorClock=0 videoClockSupported=1 videoClock=1620000"},
    {"failed current clocks", [](FakeDriver& f) { f.gpus[0].clockStatus[0] = NVAPI_NOT_SUPPORTED; }, nullptr,
     "graphicsClockSupported=0 memoryClockSupported=0 graphicsClock=0 videoClockSupported=0"},
    {"base clocks from the base query", [](FakeDriver& f) { f.gpus[0].clocks[1][2] = 1300000; }, nullptr,
     "graphicsClockRated=1607000 memoryClockRated=5005000 processorClockRated=1300000 "
     "videoClockRated=1506000"},
    {"P-state single frequencies", nullptr, nullptr,
     "graphicsClockRated=1500000 memoryClockRated=4000000 processorClockRated=1200000 "
     "videoClockRated=1100000",
     entries(0, 0, 1500000, 0, 4, 0, 4000000, 0, 7, 0, 1200000, 0, 8, 0, 1100000, 0)},
    {"P-state ranges: lower end for graphics and memory, frequency for the others", nullptr, nullptr,
     "graphicsClockRated=300000 memoryClockRated=405000 processorClockRated=600000 videoClockRated=500000",
     entries(0, 1, 300000, 1900000, 4, 1, 405000, 5000000, 7, 1, 600000, 1700000, 8, 1, 500000, 1600000)},
    {"P-state processor and video with 0 take the range's upper end", nullptr, nullptr,
     "graphicsClockRated=0 memoryClockRated=0 processorClockRated=1700000 videoClockRated=1600000",
     entries(7, 1, 0, 1700000, 8, 1, 0, 1600000)},
    {"P-state first entry of a domain wins", nullptr, nullptr,
     "graphicsClockRated=1000 processorClockRated=0",
     entries(0, 0, 1000, 0, 0, 0, 2000, 0, 7, 1, 0, 0, 7, 0, 3000, 0)},
    {"P-state eighth entry is read", nullptr, nullptr, "memoryClockRated=4200000", memoryAfter(7)},
    {"P-state entries past the table's eight are not", nullptr, nullptr, "memoryClockRated=0",
     memoryAfter(8)},
    {"base clocks kept when both sources fail later", [](FakeDriver&) {},
     [](FakeDriver& f) { f.gpus[0].clockStatus[1] = f.gpus[0].pstatesStatus = NVAPI_ERROR; },
     "graphicsClockRated=1607000 videoClockRated=1506000"},
    {"scales never shrink",
     [](FakeDriver& f) {
         f.gpus[0].clocks[2][0] = 1900000;
         f.gpus[0].clocks[2][1] = 950000;
     },
     [](FakeDriver& f) { f.gpus[0].clocks[0][0] = f.gpus[0].clocks[2][0] = f.gpus[0].clocks[2][1] = 100; },
     "graphicsClockScale=1900000 memoryClockScale=5005000"},
    {"a current clock above boost raises the scale", [](FakeDriver&) {},
     [](FakeDriver& f) { f.gpus[0].clocks[0][0] = 2000000; }, "graphicsClockScale=2000000"},
    {"scales stay 0 while boost fails", [](FakeDriver& f) { f.gpus[0].clockStatus[2] = NVAPI_NOT_SUPPORTED; },
     [](FakeDriver&) {}, "graphicsClock=1733000 graphicsClockScale=0 memoryClockScale=0"},
    {"memory use from the newer record", [](FakeDriver&) {},
     [](FakeDriver& f) { f.gpus[0].curAvailableKb = 6185152; },
     "memoryUsageSupported=1 memoryUsage=2203456 memoryTotal=8388608"},
    {"memory use from the older record: all of it",
     [](FakeDriver& f) { f.gpus[0].rejected.insert(NV_DISPLAY_DRIVER_MEMORY_INFO_VER_2); }, nullptr,
     "memoryUsageSupported=1 memoryUsage=8388608 memoryTotal=8388608"},
    {"more available than present keeps the last memory use", [](FakeDriver&) {},
     [](FakeDriver& f) {
         f.gpus[0].dedicatedKb = 100;
         f.gpus[0].curAvailableKb = 200;
     },
     "memoryUsageSupported=1 memoryUsage=1203456 memoryTotal=8388608"},
    {"frame buffer failure skips memory", [](FakeDriver& f) { f.gpus[0].frameBufferStatus = NVAPI_ERROR; },
     nullptr, "memoryUsageSupported=0 memoryTotal=0"},
    {"memory total without memory use", [](FakeDriver& f) { f.gpus[0].memoryInfoStatus = NVAPI_ERROR; },
     nullptr, "memoryUsageSupported=0 memoryTotal=8388608"},
    {"TCC memory from NvAPI until the driver model is known",
     [](FakeDriver& f) {
         tccOnBus7(f);
         f.gpus[1].frameBufferKb = f.gpus[1].dedicatedKb = 4096;
         f.gpus[1].curAvailableKb = 1024;
     },
     nullptr, "1:memoryTotal=4096 1:memoryUsage=3072 1:driverModelSupported=1 1:driverModel=1"},
    {"TCC memory from NVML then, odd bytes rounded down", tccOnBus7, [](FakeDriver&) {},
     "1:memoryUsageSupported=1 1:memoryTotal=16777216 1:memoryUsage=3145728"},
    {"voltages, fan and power", nullptr, nullptr,
     "coreVoltageRated=1062500 coreVoltage=1043000 fanLevel=33 fanRpm=1125 powerDraw=65432 "
     "powerLimit=180000"},
    {"no base voltage, no voltages", [](FakeDriver& f) { f.gpus[0].baseVoltage = 0; }, nullptr,
     "coreVoltageRatedSupported=0 coreVoltageRated=0 coreVoltageSupported=0 coreVoltage=0"},
    {"failed voltage query", [](FakeDriver& f) { f.gpus[0].voltageStatus = NVAPI_ERROR; }, nullptr,
     "coreVoltageRatedSupported=1 coreVoltageSupported=0 coreVoltage=0"},
    {"voltage 0", [](FakeDriver& f) { f.gpus[0].voltage = 0; }, nullptr,
     "coreVoltageRatedSupported=1 coreVoltageSupported=0"},
    {"fan without the rpm flag", [](FakeDriver& f) { f.gpus[0].rpmValid = 0; }, nullptr,
     "fanLevelSupported=1 fanLevel=33 fanRpmSupported=0 fanRpm=0"},
    {"fan flag of any nonzero value", [](FakeDriver& f) { f.gpus[0].rpmValid = 0x80; }, nullptr,
     "fanRpmSupported=1 fanRpm=1125"},
    {"no coolers", [](FakeDriver& f) { f.gpus[0].coolerCount = 0; }, nullptr,
     "fanLevelSupported=0 fanLevel=0 fanRpmSupported=0"},
    {"GPU load asked with each slot's own handle, TCC included",
     [](FakeDriver& f) {
         f.gpus.resize(2);
         f.gpus[1].tcc = true;
         f.gpus[1].gpuUsage = 88;
         f.gpus[1].busId = f.gpus[1].nvmlBus = 2;
     },
     nullptr, "gpuLoadSupported=1 gpuLoad=37 1:gpuLoadSupported=1 1:gpuLoad=88"},
    {"failed GPU load query keeps the last load", [](FakeDriver&) {},
     [](FakeDriver& f) {
         f.gpus[0].usageStatus = NVAPI_INVALID_HANDLE;
         f.gpus[0].gpuUsage = 70;
     },
     "gpuLoadSupported=1 gpuLoad=37"},
    {"GPU load needs initialise", [](FakeDriver& f) { f.directMissing.insert(nvapi_id::NvAPI_Initialize); },
     nullptr, "gpuLoadSupported=0"},
    {"GPU load needs the enumeration",
     [](FakeDriver& f) { f.directMissing.insert(nvapi_id::NvAPI_EnumPhysicalGPUs); }, nullptr,
     "gpuLoadSupported=0"},
    {"GPU load needs the query", [](FakeDriver& f) { f.directMissing.insert(nvapi_id::GpuUsageQuery); },
     nullptr, "gpuLoadSupported=0"},
    {"power usage fails", [](FakeDriver& f) { f.gpus[0].nvmlPowerStatus = NVML_ERROR_NOT_SUPPORTED; },
     nullptr, "powerDrawSupported=0 powerDraw=0 powerLimit=0"},
    {"power limit fails", [](FakeDriver& f) { f.gpus[0].nvmlLimitStatus = NVML_ERROR_NOT_SUPPORTED; },
     nullptr, "powerDrawSupported=0 powerDraw=0 powerLimit=0"},
    {"power limit not exported",
     [](FakeDriver& f) { f.nvmlMissing.insert("nvmlDeviceGetPowerManagementLimit"); }, nullptr,
     "powerDrawSupported=0 powerDraw=0"},
    {"power usage not exported", [](FakeDriver& f) { f.nvmlMissing.insert("nvmlDeviceGetPowerUsage"); },
     nullptr, "powerDrawSupported=0 powerLimit=0"},
    {"NVML devices in the other order", [](FakeDriver& f) { twoGpus(f, 9, 5); }, nullptr,
     "driverModelSupported=1 driverModel=0 powerDraw=1001 1:driverModelSupported=1 1:driverModel=1 "
     "1:powerDraw=1000"},
    {"no NVML device on the slots' buses", [](FakeDriver& f) { twoGpus(f, 11, 12); }, nullptr,
     "driverModelSupported=0 powerDrawSupported=0 1:driverModelSupported=0 1:powerDrawSupported=0"},
    {"the first device on the bus is taken even when its call fails",
     [](FakeDriver& f) {
         twoGpus(f, 5, 5);
         f.gpus[0].nvmlDriverModelStatus = NVML_ERROR_UNKNOWN;
     },
     nullptr, "driverModelSupported=0 powerDraw=1000 1:powerDrawSupported=0"},
    {"a failed PCI lookup never matches",
     [](FakeDriver& f) {
         twoGpus(f, 5, 9);
         f.gpus[0].nvmlPciStatus = NVML_ERROR_UNKNOWN;
     },
     nullptr, "driverModelSupported=0 powerDrawSupported=0 1:driverModelSupported=1 1:powerDraw=1001"},
    {"an unknown bus number does not match a failed lookup",
     [](FakeDriver& f) {
         f.gpus[0].busStatus = NVAPI_ERROR;
         f.gpus[0].nvmlPciStatus = NVML_ERROR_NOT_SUPPORTED;
     },
     nullptr, "driverModelSupported=0 powerDrawSupported=0"},
    // NVML numbers devices by bus, the slots list display GPUs first: the TCC
    // card on bus 1 is NVML's device 0 but slot 1.
    {"TCC card on the lower bus gives its readings to its own slot",
     [](FakeDriver& f) {
         f.gpus.resize(2);
         FakeGpu& tcc = f.gpus[0];
         tcc.tcc = true;
         tcc.busId = tcc.nvmlBus = 1;
         tcc.nvmlDriverModel = NVML_DRIVER_WDM;
         tcc.nvmlPower = 250000;
         tcc.nvmlLimit = 300000;
         tcc.nvmlTotalBytes = 40ull << 30;
         tcc.nvmlUsedBytes = 5ull << 30;
         f.gpus[1].busId = f.gpus[1].nvmlBus = 2;
     },
     [](FakeDriver&) {},
     "powerDraw=65432 powerLimit=180000 driverModel=0 memoryTotal=8388608 memoryUsage=1203456 "
     "1:powerDraw=250000 1:powerLimit=300000 1:driverModel=1 1:memoryTotal=41943040 1:memoryUsage=5242880"},
    // Utilisation domains 0 to 3 hold 37, 21, 14 and 3 %.
    {"temperature, P-state and engine loads", [](FakeDriver& f) { f.gpus[0].pstate = 8; }, nullptr,
     "temperatureSupported=1 temperature=54 pStateSupported=1 pState=8 memoryControllerLoadSupported=1 "
     "memoryControllerLoad=21 videoEngineLoadSupported=1 videoEngineLoad=14 busInterfaceLoadSupported=1 "
     "busInterfaceLoad=3"},
    {"failed memory controller load", [](FakeDriver& f) { f.gpus[0].dynamicStatus[0] = NVAPI_ERROR; },
     nullptr, "memoryControllerLoadSupported=0 memoryControllerLoad=0 videoEngineLoad=14 busInterfaceLoad=3"},
    {"failed video engine load", [](FakeDriver& f) { f.gpus[0].dynamicStatus[1] = NVAPI_ERROR; }, nullptr,
     "memoryControllerLoad=21 videoEngineLoadSupported=0 videoEngineLoad=0 busInterfaceLoad=3"},
    {"failed bus interface load", [](FakeDriver& f) { f.gpus[0].dynamicStatus[2] = NVAPI_ERROR; }, nullptr,
     "memoryControllerLoad=21 videoEngineLoad=14 busInterfaceLoadSupported=0 busInterfaceLoad=0"},
};

uint32_t fieldBits(const GpuSample& s, const std::string& name) {
    for (int k = 0; k < kSampleFieldCount; ++k) {
        if (name == kSampleFields[k].name)
            return sampleFieldBits(s, k);
    }
    ADD_FAILURE() << "no field " << name;
    return 0;
}

TEST_F(SamplerTest, ReadingsFromTheDriver) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.what);
        SetUp();
        if (c.setup)
            c.setup(gFake);
        if (!c.pstate.empty()) {
            gFake.gpus[0].clockStatus[1] = NVAPI_NOT_SUPPORTED;
            gFake.gpus[0].pstateClocks = c.pstate;
        }
        start();
        pass();
        if (c.change) {
            c.change(gFake);
            pass();
        }
        std::istringstream expect(c.expect);
        for (std::string item; expect >> item;) {
            int slot = item[1] == ':' ? item[0] - '0' : 0;
            size_t equals = item.find('=');
            std::string name = item.substr(slot ? 2 : 0, equals - (slot ? 2 : 0));
            EXPECT_EQ(std::stoul(item.substr(equals + 1)), fieldBits(sample(slot), name)) << item;
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
    std::string label(sample(1).tabLabel);
    EXPECT_EQ("NVIDIA RTX 6000 Ada Generatio(2) (COMPOSITE " + kSetsuzoku + ")", label);
}

TEST_F(SamplerTest, FlagsNeverClearAndReadingsKeepTheirLastValue) {
    gFake.gpus[0].processorPresent = true;
    gFake.gpus[0].clocks[0][2] = 1400000;
    start();
    pass();
    GpuSample before = sample(0);
    for (int k = 0; k < kSampleFieldCount; ++k) {
        if (kSampleFields[k].kind == WireKind::Flag)
            EXPECT_EQ(1u, sampleFieldBits(before, k)) << kSampleFields[k].name;
    }
    // Everything fails from now on.
    FakeGpu& g = gFake.gpus[0];
    g.clockStatus[0] = g.clockStatus[1] = g.clockStatus[2] = g.pstatesStatus = g.frameBufferStatus =
        g.memoryInfoStatus = g.thermalStatus = g.pstateStatus = g.coolerStatus = g.voltageStatus =
            g.displayCountStatus = g.dynamicStatus[0] = g.dynamicStatus[1] = g.dynamicStatus[2] = NVAPI_ERROR;
    g.nvmlPowerStatus = g.nvmlLimitStatus = g.nvmlMemoryStatus = NVML_ERROR_UNKNOWN;
    gFake.directLibrary = false;
    pass();
    GpuSample after = sample(0);
    for (int k = 0; k < kSampleFieldCount; ++k)
        EXPECT_EQ(sampleFieldBits(before, k), sampleFieldBits(after, k)) << kSampleFields[k].name;
    EXPECT_STREQ(before.tabLabel, after.tabLabel);
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
