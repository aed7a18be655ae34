#include "agent/windows/sampler.h"

#include "agent/windows/startup.h"
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
// The first slots' fields and labels as " name=value ", slot 1's written "1:name".
std::string readings(int slots) {
    GpuSample all[kGpuSlotCount];
    snapshotSamples(*gState, all);
    std::string text = " ";
    for (int slot = 0; slot < slots; ++slot) {
        std::string prefix = slot ? "1:" : "";
        for (int k = 0; k < kSampleFieldCount; ++k)
            text +=
                prefix + kSampleFields[k].name + "=" + std::to_string(sampleFieldBits(all[slot], k)) + " ";
        text += prefix + "label=" + all[slot].tabLabel + " ";
    }
    return text;
}

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

TEST(Sampler, ReadingsFromTheDriver) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.what);
        reset();
        if (c.setup)
            c.setup(gFake);
        gFake.gpus[0].pstateClocks = c.pstate;
        if (!c.pstate.empty())
            gFake.gpus[0].clockStatus[1] = NVAPI_NOT_SUPPORTED;
        ASSERT_TRUE(startSampler(*gState, fakeDriverTable(), StartupHooks{}));
        samplePass(*gState, fakeDriverTable());
        if (c.change) {
            c.change(gFake);
            samplePass(*gState, fakeDriverTable());
        }
        std::istringstream expect(c.expect);
        std::string actual = readings(2);
        for (std::string item; expect >> item;)
            EXPECT_NE(std::string::npos, actual.find(" " + item + " ")) << item << " in" << actual;
    }
}

TEST(Sampler, FlagsNeverClearAndReadingsKeepTheirLastValue) {
    reset();
    gFake.gpus[0].processorPresent = true;
    ASSERT_TRUE(startSampler(*gState, fakeDriverTable(), StartupHooks{}));
    samplePass(*gState, fakeDriverTable());
    std::string before = readings(1);
    EXPECT_EQ(std::string::npos, before.find("Supported=0")) << before;
    // Everything fails from now on.
    FakeGpu& g = gFake.gpus[0];
    g.clockStatus[0] = g.clockStatus[1] = g.clockStatus[2] = g.pstatesStatus = g.frameBufferStatus =
        g.memoryInfoStatus = g.thermalStatus = g.pstateStatus = g.coolerStatus = g.voltageStatus =
            g.displayStatus = g.dynamicStatus[0] = g.dynamicStatus[1] = g.dynamicStatus[2] = NVAPI_ERROR;
    g.nvmlPowerStatus = g.nvmlLimitStatus = g.nvmlMemoryStatus = NVML_ERROR_UNKNOWN;
    g.usageStatus = NVAPI_INVALID_HANDLE;
    samplePass(*gState, fakeDriverTable());
    EXPECT_EQ(before, readings(1));
    // The sampler ends after a pass once the Agent stops, without a last pause.
    gState->agentRunning.store(0);
    EXPECT_EQ(0, runSampler(*gState, fakeDriverTable(), 1000));
    EXPECT_EQ(std::vector<int>{}, gFake.sleepMs);
}

} // namespace
