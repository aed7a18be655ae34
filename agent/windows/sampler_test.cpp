// The Windows sampler and its start-up under Wine, through the program's own
// driver table over the simulated driver: each case writes its scenario,
// starts the sampler and reads the slots after a pass, or after a second pass
// under a second scenario with every reading aged out of the up window first.
#include "agent/windows/driver_table_win.h"
#include "agent/windows/sampler.h"
#include "agent/windows/startup.h"
#include "tests/support/sim_test_support_win.h"

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

#define SETSUZOKU "\x90\xDA\x91\xB1"

std::vector<int> gPauses;
void record(void* context, StartupMessage m) {
    static_cast<std::vector<StartupMessage>*>(context)->push_back(m);
}

struct Rig {
    std::unique_ptr<AgentState> state = std::make_unique<AgentState>();
    std::unique_ptr<NvapiGpus> gpus = std::make_unique<NvapiGpus>();
    DriverTable driver = windowsDriverTable();
    std::vector<StartupMessage> shown;
    explicit Rig(const std::string& scenario) {
        simtest::useScenario(scenario);
        state->agentRunning.store(1);
        driver.sleepMs = [](int ms) { gPauses.push_back(ms); };
        gPauses.clear();
    }
    bool start() { return startSampler(*state, *gpus, driver, StartupCallbacks{&shown, record}); }
    void pass() { samplePass(*state, *gpus, driver); }
    // " count=N pauses=MS,... field=value ... " over the slots below the count,
    // slot n's fields written "n:field"; spaces in names and labels written '_'.
    std::string readings() {
        GpuSample all[kGpuSlotCount];
        snapshotSamples(*state, all);
        bool up[kGpuSlotCount];
        slotsUp(*state, steadyMs(), up);
        std::ostringstream text;
        text << " count=" << state->gpuCount.load() << " pauses=";
        for (size_t k = 0; k < gPauses.size(); ++k)
            text << (k ? "," : "") << gPauses[k];
        text << " ";
        for (int slot = 0; slot < state->gpuCount.load(); ++slot) {
            const GpuSample& s = all[slot];
            std::string prefix = slot ? std::to_string(slot) + ":" : "";
            for (int k = 0; k < kSampleFieldCount; ++k)
                text << prefix << kSampleFields[k].name << "=" << sampleFieldBits(s, k) << " ";
#define GAUGELINE_AGENT_FIELD_TEXT(name) text << prefix << #name << "=" << s.name << " ";
            GAUGELINE_AGENT_ONLY_FIELDS(GAUGELINE_AGENT_FIELD_TEXT)
#undef GAUGELINE_AGENT_FIELD_TEXT
            std::string label = s.tabLabel, name(s.fullName, s.fullName + wcslen(s.fullName));
            for (std::string* t : {&label, &name})
                for (char& c : *t)
                    c = c == ' ' ? '_' : c;
            text << prefix << "label=" << label << " " << prefix << "name=" << name << " " << prefix
                 << "bus=" << state->slots[slot].busId << " " << prefix << "up=" << up[slot] << " " << prefix
                 << "versions=" << std::hex;
            for (int k = 0; k < kRecordVersionCount; ++k)
                text << (k ? "," : "") << gpus->recordVersions[slot][k];
            text << std::dec << " ";
        }
        return text.str();
    }
};

struct Case {
    const char* what;
    const char* first;  // scenario of start-up and the first pass
    const char* second; // of a second pass; null: one pass
    const char* expect; // "field=value ...", as readings() writes them
};

// clang-format off
const Case kCases[] = {
    {"readings of a working GPU; the wire's power limit is the management limit",
     "gpu 0 pstate 8\ngpu 0 powerManagementLimit 200000\n", nullptr,
     "count=1 graphicsClock=1500000 memoryClock=7000000 processorClock=3000000 videoClock=1300000 "
     "graphicsClockRated=1400000 memoryClockRated=7000000 processorClockRated=2800000 videoClockRated=1200000 "
     "graphicsClockScale=1800000 memoryClockScale=7000000 coreVoltageRated=800000 coreVoltage=875000 "
     "fanLevel=40 fanRpm=1500 powerDraw=90000 powerLimit=200000 managementPowerLimit=200000 "
     "enforcedPowerLimit=220000 temperature=50 pState=8 memoryControllerLoad=20 videoEngineLoad=5 "
     "busInterfaceLoad=2 gpuLoad=30 memoryTotal=8388608 memoryUsage=1048576 driverModel=0 "
     "driverModelSupported=1 label=Example_GPU_(DP_" SETSUZOKU ") up=1"},
    {"partial failures: memory use, voltage, rpm flag, first engine load, power limit, video, boost, usage",
     "fail GetMemoryInfo\ngpu 0 coreVoltage 0\ngpu 0 rpmflag 0\nfail GetDynamicPstatesInfoEx until 1\n"
     "fail nvmlDeviceGetPowerManagementLimit\ngpu 0 domains 0 4 7\nfail GetAllClockFrequencies type 2\n"
     "omit GpuUsageQuery\n", nullptr,
     "videoClockSupported=0 videoClock=0 memoryUsageSupported=0 memoryTotal=8388608 "
     "coreVoltageRatedSupported=1 coreVoltageSupported=0 fanLevelSupported=1 fanRpmSupported=0 "
     "memoryControllerLoadSupported=0 videoEngineLoad=5 busInterfaceLoad=2 powerDrawSupported=0 powerDraw=0 "
     "managementPowerLimitSupported=0 enforcedPowerLimit=220000 gpuLoadSupported=0 graphicsClock=1500000 "
     "graphicsClockScale=0 memoryClockScale=0"},
    {"no base voltage, coolers or power draw, older memory record: all in use; a bus the driver refuses "
     "reads 0 and finds no NVML device",
     "gpu 0 baseVoltage 0\ngpu 0 coolers 0\nfail nvmlDeviceGetPowerUsage\ngpu 0 accept memory 0x10014\n"
     "gpu 1 physical\nfail GetBusId gpu 1\n", nullptr,
     "coreVoltageRatedSupported=0 coreVoltageSupported=0 fanLevelSupported=0 fanRpmSupported=0 "
     "powerDrawSupported=0 powerLimit=0 managementPowerLimit=220000 memoryUsageSupported=1 memoryUsage=8388608 "
     "1:bus=0 1:driverModelSupported=0 1:managementPowerLimitSupported=0 1:temperature=50 1:up=1"},
    {"rated clocks from the P-states: a range's lower end, or its upper end when the lower is 0",
     "fail GetAllClockFrequencies type 1\ngpu 0 processorClockBase 0\ngpu 1 physical\n", nullptr,
     "graphicsClockRated=1400000 memoryClockRated=7000000 processorClockRated=3600000 videoClockRated=1200000 "
     "1:processorClockRated=2800000"},
    {"scales never shrink",
     "gpu 0 graphicsClockBoost 1900000\ngpu 0 memoryClockBoost 9500000\n",
     "gpu 0 graphicsClock 100\ngpu 0 graphicsClockBoost 100\ngpu 0 memoryClockBoost 100\n",
     "graphicsClock=100 graphicsClockScale=1900000 memoryClockScale=9500000"},
    {"a lost GPU goes down and keeps every reading and flag; the others stay up",
     "gpu 0 physical\ngpu 1 temperature 51\ngpu 1 processorClock 3100000\ngpu 2 physical\n",
     "gpu 0 physical\ngpu 1 lost 0\ngpu 2 physical\n",
     "count=3 up=1 1:up=0 2:up=1 1:temperature=51 1:temperatureSupported=1 1:processorClock=3100000 "
     "1:gpuLoad=30 1:gpuLoadSupported=1 1:powerDraw=90000 1:memoryUsage=1048576 1:fanRpmSupported=1 "
     "1:coreVoltage=875000 1:pStateSupported=1 1:label=Example_GPU(2)_(DP_" SETSUZOKU ")"},
    // NVML numbers devices by bus: the TCC card on bus 1 is its device 0, but
    // slot 1, after the display card it is listed before.
    {"physical GPUs first, names cut to 39 characters; a TCC card's memory from NVML once its model is known",
     "gpu 0 tcc\ngpu 0 name Example GPU B\ngpu 0 bus 1\ngpu 0 powerDraw 250000\ngpu 0 gpuLoad 90\n"
     "gpu 0 memoryTotal 41943040\ngpu 0 memoryUsed 5242880\n"
     "gpu 1 name Example GPU A with a name far longer than the thirty-nine\ngpu 1 bus 2\n"
     "gpu 1 connector HDMI\ngpu 1 powerDraw 65000\ngpu 1 gpuLoad 40\n", "",
     "count=2 name=Example_GPU_A_with_a_name_far_longer_th bus=2 powerDraw=65000 gpuLoad=40 driverModel=0 "
     "memoryTotal=8388608 memoryUsage=1048576 label=Example_GPU_A_with_a_name_far_long(1)_(HDMI_" SETSUZOKU ") "
     "1:name=Example_GPU_B 1:bus=1 1:powerDraw=250000 1:gpuLoad=90 1:driverModel=1 1:memoryTotal=41943040 "
     "1:memoryUsage=5242880 1:label=Example_GPU_B(2)"},
    {"record versions: the newest each GPU accepts; the clock record's second try after a pause of 1 ms",
     "gpu 0 physical\ngpu 1 accept clocks 0x20108\ngpu 1 accept pstates 0x21CF8\ngpu 1 accept cooler 0x30508\n"
     "gpu 2 accept cooler 0x103C8\n", nullptr,
     "pauses=1 versions=30108,31cf8,20044,20018,40558 1:versions=20108,21cf8,20044,20018,30508 "
     "2:versions=30108,31cf8,20044,20018,103c8"},
    {"record versions when none is accepted: the oldest, taken untried",
     "gpu 0 accept clocks\ngpu 0 accept pstates\ngpu 0 accept thermal\ngpu 0 accept memory\n"
     "gpu 0 accept cooler\n", nullptr,
     "pauses=1 versions=10108,11c94,10044,10014,10098"},
};
// clang-format on

TEST(Sampler, ReadingsFromTheDriver) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.what);
        Rig rig(c.first);
        ASSERT_TRUE(rig.start());
        rig.pass();
        if (c.second) {
            for (AgentSlot& slot : rig.state->slots)
                slot.lastReadingMs.store(steadyMs() - kGpuUpWindowMs - 1000);
            if (*c.second)
                simtest::useScenario(c.second);
            rig.pass();
        }
        std::istringstream expect(c.expect);
        std::string actual = rig.readings();
        for (std::string item; expect >> item;)
            EXPECT_NE(std::string::npos, actual.find(" " + item + " ")) << item << " in" << actual;
    }
    simtest::clearScenario();
}

TEST(Sampler, StartupMessages) {
    using M = StartupMessage;
    // clang-format off
    const struct {
        const char* scenario;
        bool nvmlMissing;
        int count; // GPUs recognised; 0: start-up ends
        std::vector<StartupMessage> shown;
    } cases[] = {
        {"fail NvAPI_Initialize status -2\n", false, 0, {M::NvapiFailed}},
        {"fail EnumPhysicalGPUs status -6\n", false, 0, {M::NvapiFailed}},
        {"fail EnumTCCPhysicalGPUs\n", false, 0, {M::NvapiFailed}},
        {"nogpus\n", false, 0, {M::NvapiFailed}},
        {"", true, 0, {M::NvmlLoadFailed}},
        {"fail nvmlInit status 9\n", false, 0, {M::NvmlInitFailed}},
        {"fail GetFullName\n", false, 0, {M::NameFailed}},
        {"", false, 1, {}},
        {"gpu 0 physical\ngpu 1 physical\ngpu 2 physical\ngpu 3 physical\ngpu 4 tcc\ngpu 5 physical\n"
         "gpu 6 physical\ngpu 7 physical\ngpu 8 physical\n", false, 8, {M::TooManyGpus}},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        Rig rig(c.scenario);
        if (c.nvmlMissing)
            rig.driver.loadNvml = [](NvmlApi* api) {
                return loadNvmlFrom(L"C:/none/nvml.dll", "none.dll", api);
            };
        EXPECT_EQ(c.count > 0, rig.start());
        EXPECT_EQ(c.shown, rig.shown);
        EXPECT_EQ(c.count > 0, rig.state->agentRunning.load() == 1);
        if (c.count > 0) {
            EXPECT_EQ(c.count, rig.state->gpuCount.load());
        }
    }
    simtest::clearScenario();
}

TEST(WindowsVersion, SevenAndLaterAreSupported) {
    const uint32_t cases[][3] = {{6, 0, 0}, {6, 1, 1}, {6, 2, 1}, {10, 0, 1}}; // major, minor, supported
    for (const auto& c : cases)
        EXPECT_EQ(c[2] != 0, windowsVersionSupported(c[0], c[1])) << c[0] << "." << c[1];
}

} // namespace
