#include "agent/sampler.h"

#include "agent/startup.h"
#include "tests/support/fake_driver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::unique_ptr<AgentState> gState;

void reset() {
    resetFakeDriver();
    gFake.gpus.resize(1);
    gState = std::make_unique<AgentState>();
    gState->agentRunning.store(1);
}
void start() {
    ASSERT_TRUE(prepareGpus(*gState, fakeDriverTable(), StartupHooks{}));
}
void pass() {
    samplePass(*gState, fakeDriverTable());
}
GpuSample sample(int slot) {
    GpuSample all[kGpuSlotCount];
    snapshotSamples(*gState, all);
    return all[slot];
}

// NVML numbers devices by bus, the slots list display GPUs first: the TCC card
// on bus 1 is NVML's device 0 but slot 1.
void tccOnBus1(FakeDriver& f) {
    f.gpus.resize(2);
    FakeGpu& tcc = f.gpus[0];
    tcc.tcc = true;
    tcc.nvmlDriverModel = NVML_DRIVER_WDM;
    tcc.nvmlPower = 250000;
    tcc.nvmlLimit = 300000;
    tcc.nvmlMemory.total = 40ull << 30;
    tcc.gpuUsage = 88;
    f.gpus[1].busId = f.gpus[1].nvmlBus = 2;
}

// Two GPUs on buses 5 and 9; NVML's devices at indices 0 and 1 draw 1000 and
// 1001 mW, the first in the WDM model and failing the given call.
void twoGpus(FakeDriver& f, uint32_t nvmlBus0, uint32_t nvmlBus1, nvmlReturn_t FakeGpu::*failing = nullptr) {
    f.gpus.resize(2);
    for (uint32_t i : {0u, 1u}) {
        f.gpus[i].busId = i ? 9 : 5;
        f.gpus[i].nvmlBus = i ? nvmlBus1 : nvmlBus0;
        f.gpus[i].nvmlPower = 1000 + i;
    }
    f.gpus[0].nvmlDriverModel = NVML_DRIVER_WDM;
    if (failing)
        f.gpus[0].*failing = NVML_ERROR_UNKNOWN;
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
    std::vector<FakeClockEntry> pstate;
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
    {"memory total without memory use, voltage 0, no rpm flag, first engine load and power limit fail, no "
     "initialise, no video clock",
     [](FakeDriver& f) {
         FakeGpu& g = f.gpus[0];
         g.memoryInfoStatus = g.dynamicStatus[0] = NVAPI_ERROR;
         g.voltage = g.rpmValid = 0;
         g.videoPresent = false;
         g.nvmlLimitStatus = NVML_ERROR_NOT_SUPPORTED;
         f.directMissing.insert(nvapi_id::NvAPI_Initialize);
     },
     nullptr,
     "videoClockSupported=0 videoClock=0 memoryUsageSupported=0 memoryTotal=8388608 "
     "coreVoltageRatedSupported=1 coreVoltageSupported=0 "
     "fanLevelSupported=1 fanRpmSupported=0 memoryControllerLoadSupported=0 videoEngineLoad=14 "
     "busInterfaceLoad=3 powerDrawSupported=0 powerDraw=0 gpuLoadSupported=0"},
    {"no base voltage, no coolers, power usage fails, no enumeration, older memory record: all in use",
     [](FakeDriver& f) {
         FakeGpu& g = f.gpus[0];
         g.baseVoltage = g.coolerCount = 0;
         g.nvmlPowerStatus = NVML_ERROR_NOT_SUPPORTED;
         g.rejected.insert(NV_DISPLAY_DRIVER_MEMORY_INFO_VER_2);
         f.directMissing.insert(nvapi_id::NvAPI_EnumPhysicalGPUs);
     },
     nullptr,
     "coreVoltageRatedSupported=0 coreVoltageSupported=0 fanLevelSupported=0 fanRpmSupported=0 "
     "powerDrawSupported=0 powerLimit=0 gpuLoadSupported=0 memoryUsageSupported=1 memoryUsage=8388608"},
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
    {"scales stay 0 while boost fails", [](FakeDriver& f) { f.gpus[0].clockStatus[2] = NVAPI_NOT_SUPPORTED; },
     [](FakeDriver&) {}, "graphicsClock=1733000 graphicsClockScale=0 memoryClockScale=0"},
    {"memory use from the newer record", [](FakeDriver&) {},
     [](FakeDriver& f) { f.gpus[0].curAvailableKb = 6185152; },
     "memoryUsageSupported=1 memoryUsage=2203456 memoryTotal=8388608"},
    {"more available than present keeps the last memory use", [](FakeDriver&) {},
     [](FakeDriver& f) {
         f.gpus[0].dedicatedKb = 100;
         f.gpus[0].curAvailableKb = 200;
     },
     "memoryUsageSupported=1 memoryUsage=1203456 memoryTotal=8388608"},
    {"no NVML device on the slots' buses", [](FakeDriver& f) { twoGpus(f, 11, 12); }, nullptr,
     "driverModelSupported=0 powerDrawSupported=0 1:driverModelSupported=0 1:powerDrawSupported=0"},
    {"the first device on the bus is taken even when its call fails",
     [](FakeDriver& f) { twoGpus(f, 5, 5, &FakeGpu::nvmlDriverModelStatus); }, nullptr,
     "driverModelSupported=0 powerDraw=1000 1:powerDrawSupported=0"},
    // The first slot's bus number is unknown: 0, as a failed lookup leaves it.
    {"a failed PCI lookup never matches",
     [](FakeDriver& f) {
         twoGpus(f, 5, 9, &FakeGpu::nvmlPciStatus);
         f.gpus[0].busStatus = NVAPI_ERROR;
     },
     nullptr, "driverModelSupported=0 powerDrawSupported=0 1:driverModelSupported=1 1:powerDraw=1001"},
    {"TCC memory from NvAPI until the driver model is known", tccOnBus1, nullptr,
     "1:memoryTotal=8388608 1:memoryUsage=1203456 1:driverModelSupported=1 1:driverModel=1"},
    {"TCC card on the lower bus gives its readings to its own slot, odd bytes rounded down", tccOnBus1,
     [](FakeDriver&) {},
     "powerDraw=65432 powerLimit=180000 driverModel=0 memoryTotal=8388608 memoryUsage=1203456 gpuLoad=37 "
     "1:powerDraw=250000 1:powerLimit=300000 1:driverModel=1 1:memoryTotal=41943040 1:memoryUsage=3145728 "
     "1:gpuLoad=88"},
};

uint32_t fieldBits(const GpuSample& s, const std::string& name) {
    for (int k = 0; k < kSampleFieldCount; ++k) {
        if (name == kSampleFields[k].name)
            return sampleFieldBits(s, k);
    }
    ADD_FAILURE() << "no field " << name;
    return 0;
}

TEST(Sampler, ReadingsFromTheDriver) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.what);
        reset();
        if (c.setup)
            c.setup(gFake);
        gFake.gpus[0].pstateClocks = c.pstate;
        if (!c.pstate.empty())
            gFake.gpus[0].clockStatus[1] = NVAPI_NOT_SUPPORTED;
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

TEST(Sampler, FlagsNeverClearAndReadingsKeepTheirLastValue) {
    reset();
    gFake.gpus[0].processorPresent = true;
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
            g.displayStatus = g.dynamicStatus[0] = g.dynamicStatus[1] = g.dynamicStatus[2] = NVAPI_ERROR;
    g.nvmlPowerStatus = g.nvmlLimitStatus = g.nvmlMemoryStatus = NVML_ERROR_UNKNOWN;
    g.usageStatus = NVAPI_INVALID_HANDLE;
    pass();
    GpuSample after = sample(0);
    for (int k = 0; k < kSampleFieldCount; ++k)
        EXPECT_EQ(sampleFieldBits(before, k), sampleFieldBits(after, k)) << kSampleFields[k].name;
    EXPECT_STREQ(before.tabLabel, after.tabLabel);
}

TEST(Sampler, RunSamplerEndsAfterAPassWhenTheAgentStops) {
    reset();
    gFake.gpus.resize(2);
    gFake.gpus[1].connector = NV_MONITOR_CONN_TYPE_HDMI;
    start();
    gState->agentRunning.store(0);
    EXPECT_EQ(0, runSampler(*gState, fakeDriverTable(), 1000));
    EXPECT_STREQ("Example GPU(2) (HDMI \x90\xDA\x91\xB1)", sample(1).tabLabel);
    EXPECT_EQ(std::count(gFake.sleepMs.begin(), gFake.sleepMs.end(), 1000),
              0); // no sleep after the last pass
}

} // namespace
