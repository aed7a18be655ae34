// The NVML-only source over the simulated libnvidia-ml.so.1, opened and bound
// as the Agent does it; each case writes its scenario, and readings ramp with
// the scenario's fixed time, so a pass at time s reads base + perSecond * s.
#include "agent/linux/nvml_source.h"
#include "agent/linux/xid_watch.h"
#include "gpu/nvml_library.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

NvmlApi gApi;
int (*gReload)() = nullptr;
uint32_t (*gCallCount)(const char* name) = nullptr;

// Loads the library on first use (by its path, so that the loader's dlopen of
// the plain name finds this one), makes scenario its scenario; the bound calls.
const NvmlApi& useScenario(const std::string& scenario) {
    const std::string path = testing::TempDir() + "nvml_source_" + std::to_string(getpid()) + ".scenario";
    std::ofstream(path) << scenario;
    if (!gReload) {
        setenv("GAUGELINE_SIM_SCENARIO", path.c_str(), 1);
        void* pinned = dlopen(GAUGELINE_SIM_LINUX_DIR "/libnvidia-ml.so.1", RTLD_NOW);
        char error[256];
        void* library = openNvmlLibrary(error, sizeof error);
        EXPECT_TRUE(pinned && library == pinned) << error;
        bindNvml(&gApi, lookupNvmlExport, library, NvmlGeneration::Newest);
        gReload = reinterpret_cast<int (*)()>(dlsym(library, "gaugelineSimReload"));
        gCallCount = reinterpret_cast<uint32_t (*)(const char*)>(dlsym(library, "gaugelineSimCallCount"));
    }
    EXPECT_EQ(gReload(), 0) << scenario;
    std::remove(path.c_str());
    return gApi;
}

struct Rig {
    std::unique_ptr<AgentState> state = std::make_unique<AgentState>();
    NvmlApi api; // the bound calls; a case may replace one
    NvmlSource source;
    explicit Rig(const std::string& scenario) : api(useScenario(scenario)) { source.api = &api; }
};

// Each field reads base + perSecond * s at time s, from the scenario reading of
// its name or the one named ("": none of its own); XSupported is 1 where X is
// listed, other fields 0.
struct Field {
    const char* name;
    uint32_t base, perSecond;
    const char* reading = nullptr;
};
// clang-format off
const Field kFields[] = {
    {"graphicsClock", 1500000, 1000}, {"processorClock", 1600000, 1000}, {"memoryClock", 7000000, 1000},
    {"videoClock", 1300000, 1000}, {"graphicsClockRated", 1200000, 1000, "graphicsClockBase"},
    {"memoryClockRated", 6000000, 1000, "memoryClockBase"}, {"graphicsClockScale", 2000000, 1000, ""},
    {"memoryClockMax", 8000000, 1000, "memoryClockBoost"}, {"memoryClockScale", 8000000, 1000, ""},
    {"graphicsClockMax", 2000000, 1000, "graphicsClockBoost"}, {"gpuLoad", 40, 1}, {"temperature", 60, 1},
    {"videoClockMax", 1900000, 1000, "videoClockBoost"}, {"memoryControllerLoad", 20, 1}, {"fanLevel", 45, 1},
    {"processorClockMax", 2100000, 1000, "processorClockBoost"}, {"powerLimit", 250000, 1, ""},
    {"videoEngineLoad", 30, 1, "encoderLoad"}, {"", 10, 1, "decoderLoad"}, {"memoryTotal", 16777216, 1},
    {"memoryUsage", 4194304, 1, "memoryUsed"}, {"powerDraw", 150000, 1}, {"fanRpm", 1800, 1},
    {"enforcedPowerLimit", 250000, 1, "powerLimit"}, {"pState", 2, 1, "pstate"},
    {"managementPowerLimit", 270000, 1, "powerManagementLimit"},
};
// clang-format on

std::string ramps() {
    std::string out;
    for (const Field& f : kFields)
        if (!f.reading || *f.reading)
            out += "gpu 0 " + std::string(f.reading ? f.reading : f.name) + " ramp " +
                   std::to_string(f.base) + " " + std::to_string(f.perSecond) + "\n";
    return out;
}

void expectSample(AgentState& state, uint32_t seconds,
                  const std::vector<std::pair<std::string, uint32_t>>& overrides) {
    GpuSample samples[kGpuSlotCount], &got = samples[0];
    snapshotSamples(state, samples);
    auto expectField = [&](const std::string& name, uint32_t value) {
        uint32_t want = 0;
        for (const Field& f : kFields)
            if (name == f.name || name == f.name + std::string("Supported"))
                want = name == f.name ? f.base + f.perSecond * seconds : 1;
        for (const auto& o : overrides)
            if (o.first == name)
                want = o.second;
        EXPECT_EQ(value, want) << name;
    };
    for (int k = 0; k < kSampleFieldCount; ++k)
        expectField(kSampleFields[k].name, sampleFieldBits(got, k));
#define GAUGELINE_EXPECT_AGENT_FIELD(name) expectField(#name, got.name);
    GAUGELINE_AGENT_ONLY_FIELDS(GAUGELINE_EXPECT_AGENT_FIELD)
#undef GAUGELINE_EXPECT_AGENT_FIELD
}

// Every call of the list fails.
#define GAUGELINE_FAIL_LINE(field, newer, older, since, params) "fail " #newer "\n"
const char kEveryCallFails[] = GAUGELINE_NVML_CALLS(GAUGELINE_FAIL_LINE);
#undef GAUGELINE_FAIL_LINE

TEST(NvmlSample, FailedReadingKeepsValueAndFlagOfThePassBefore) {
    struct Row {
        const char *what, *alwaysFail, *secondFail;
        // What the library cannot say, faked here: a driver older than 570
        // without the fan rpm export, and a P-state above 15.
        bool oldDriver;
        uint32_t firstTime, secondTime, expectedTime;
        std::vector<std::pair<std::string, uint32_t>> expect;
    };
    // clang-format off
    const Row rows[] = {
        {"every call fails: all readings stay", "", kEveryCallFails, false, 0, 1, 0, {}},
        {"scale never falls; memory v2 alone; never read",
         "fail nvmlDeviceGetMemoryInfo\nfail nvmlDeviceGetEnforcedPowerLimit\n", "", true, 9, 0, 0,
         {{"graphicsClockScale", 2009000}, {"memoryClockScale", 8009000}, {"fanRpm", 0}, {"pState", 0},
          {"fanRpmSupported", 0}, {"pStateSupported", 0}, {"powerDraw", 0}, {"powerLimit", 0},
          {"powerDrawSupported", 0}, {"enforcedPowerLimit", 0}, {"enforcedPowerLimitSupported", 0}}},
        {"decoder alone, memory v1, power draw kept", "", "fail nvmlDeviceGetEncoderUtilization\n"
         "fail nvmlDeviceGetMemoryInfo_v2\nfail nvmlDeviceGetPowerUsage\n", false, 0, 1, 1,
         {{"videoEngineLoad", 11}, {"powerDraw", 150000}, {"powerLimit", 250000}}},
    };
    // clang-format on
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const std::string scenario = ramps() + row.alwaysFail;
        Rig rig(scenario + "time " + std::to_string(row.firstTime) + "\n");
        if (row.oldDriver) {
            rig.api.getFanSpeedRpm = nullptr;
            rig.api.getPerformanceState = [](nvmlDevice_t, nvmlPstates_t* p) { return *p = 16, 0; };
        }
        ASSERT_EQ(startSampler(*rig.state, rig.source).outcome, NvmlStartOutcome::Ok);
        sampleSlot(*rig.state, rig.source, 0);
        useScenario(scenario + row.secondFail + "time " + std::to_string(row.secondTime) + "\n");
        sampleSlot(*rig.state, rig.source, 0);
        expectSample(*rig.state, row.expectedTime, row.expect);
    }
}

const char kTwoGpus[] = "gpu 0 physical\ngpu 1 physical\ntime 0\n";

void noteLost(void* told, int slot) {
    static_cast<std::vector<int>*>(told)->push_back(slot);
}

TEST(NvmlSample, LostGpuIsNotCalledAgainAndToldOnce) {
    for (bool lost : {true, false}) {
        SCOPED_TRACE(lost);
        Rig rig(kTwoGpus + std::string("fail nvmlDeviceGetTemperature gpu 0") + (lost ? " status 15" : ""));
        std::vector<int> told;
        rig.source.callbacks.lost = noteLost;
        rig.source.callbacks.context = &told;
        ASSERT_EQ(startSampler(*rig.state, rig.source).outcome, NvmlStartOutcome::Ok);
        auto pass = [&] { sampleSlot(*rig.state, rig.source, 0), sampleSlot(*rig.state, rig.source, 1); };
        pass();
        rig.state->slots[0].lastReadingMs.store(0); // a lost GPU's reading ages, so the metrics take it down
        const uint32_t before = gCallCount("nvmlDeviceGetTemperature");
        pass();
        EXPECT_EQ(gCallCount("nvmlDeviceGetTemperature") - before, lost ? 1u : 2u);
        EXPECT_EQ(rig.state->slots[0].lastReadingMs.load() == 0, lost);
        EXPECT_EQ(told, lost ? std::vector<int>{0} : std::vector<int>{});
    }
}

TEST(NvmlStart, OutcomeCountNamesAndLabels) {
    const std::string unknown = " (UNKNOWN \x90\xDA\x91\xB1)";
    const struct {
        int gpus, failGpu, gpuCount;
        uint32_t deviceCount;
        NvmlStartOutcome outcome;
        nvmlReturn_t error;
        std::string fail, firstLabel, lastLabel;
    } rows[] = {
        {1, -1, 1, 1, NvmlStartOutcome::Ok, 0, "", "GPU 0" + unknown, "GPU 0" + unknown},
        {2, -1, 0, 0, NvmlStartOutcome::CountFailed, 999, "fail nvmlDeviceGetCount_v2", "", ""},
        {2, 1, 2, 2, NvmlStartOutcome::Ok, 0, "fail nvmlDeviceGetName gpu 1 status 4", "GPU 0(1)" + unknown,
         "- empty -(2)" + unknown},
        {2, 0, 2, 2, NvmlStartOutcome::Ok, 0, "fail nvmlDeviceGetHandleByIndex_v2 gpu 0 status 4",
         "- empty -(1)" + unknown, "GPU 1(2)" + unknown},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.fail);
        std::string scenario = row.fail + "\n";
        for (int i = 0; i < row.gpus; ++i)
            scenario += "gpu " + std::to_string(i) + " name GPU " + std::to_string(i) + "\n";
        Rig rig(scenario);
        NvmlStartResult r = startSampler(*rig.state, rig.source);
        EXPECT_EQ(r.outcome, row.outcome);
        EXPECT_EQ(r.error, row.error);
        EXPECT_EQ(r.deviceCount, row.deviceCount);
        EXPECT_EQ(rig.state->gpuCount.load(), row.gpuCount);
        for (int i = 0; i < kGpuSlotCount; ++i)
            EXPECT_EQ(r.slotError[i], i == row.failGpu ? NVML_ERROR_NO_PERMISSION : NVML_SUCCESS);
        EXPECT_EQ(std::string(rig.state->slots[0].sample.tabLabel), row.firstLabel);
        EXPECT_EQ(std::string(rig.state->slots[std::max(row.gpuCount - 1, 0)].sample.tabLabel),
                  row.lastLabel);
    }
}

TEST(NvmlStart, NameIsCutToTheFieldAndKeptAscii) {
    Rig rig("gpu 0 name NVIDIA \xC3\xA9 GeForce RTX 4090 Laptop GPU with a long tail\n");
    ASSERT_EQ(startSampler(*rig.state, rig.source).outcome, NvmlStartOutcome::Ok);
    EXPECT_EQ(std::wstring(rig.state->slots[0].fullName), L"NVIDIA ?? GeForce RTX 4090 Laptop GPU w");
}

} // namespace

TEST(NvmlHealth, IdentityReadingsXidsAndProcessesFromTheDriver) {
    Rig rig("driver 550.1\ntime 0\n"
            "gpu 0 uuid GPU-abc\ngpu 0 energy 5000\ngpu 0 clockEventsSupported 0x44\ngpu 0 clockEventsActive "
            "0x40\n"
            "gpu 0 eccCorrected 2\ngpu 0 eccUncorrected 1\ngpu 0 xid 79 0\ngpu 0 xid 13 0\n"
            "gpu 0 process self compute 512\ngpu 0 process self graphics 100\ngpu 0 process 77 compute na\n"
            "gpu 1 physical\nfail nvmlDeviceGetUUID gpu 1\nfail nvmlDeviceRegisterEvents gpu 1 status 3\n");
    ASSERT_EQ(startSampler(*rig.state, rig.source).outcome, NvmlStartOutcome::Ok);
    rig.state->readProcesses.store(true);
    sampleSlot(*rig.state, rig.source, 0);
    sampleSlot(*rig.state, rig.source, 1);
    XidWatch watch;
    ASSERT_TRUE(startXidWatch(*rig.state, watch, rig.api, rig.source.devices));
    GpuHealth h[kGpuSlotCount];
    char driver[80];
    for (int i = 0; i < 100 && h[0].xids.kinds < 2; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        snapshotHealth(*rig.state, h, driver, sizeof driver);
    }
    auto stopStart = std::chrono::steady_clock::now();
    stopXidWatch(watch);
    EXPECT_LT(std::chrono::steady_clock::now() - stopStart, std::chrono::milliseconds(kXidWaitMs + 1000));

    EXPECT_STREQ(driver, "550.1");
    EXPECT_STREQ(h[0].identity.uuid, "GPU-abc");
    EXPECT_STREQ(h[0].identity.pciBusId, "00000000:01:00.0");
    EXPECT_STREQ(h[1].identity.uuid, "");
    EXPECT_STREQ(h[1].identity.pciBusId, "00000000:02:00.0");
    const GpuHealthReadings& r = h[0].readings;
    EXPECT_TRUE(r.energyRead && r.clockEventsRead && r.eccRead && r.encoderRead && r.decoderRead);
    EXPECT_EQ(r.energyMillijoules, 5000u);
    EXPECT_EQ(r.clockEventsSupported, 0x44u);
    EXPECT_EQ(r.clockEventsActive, 0x40u);
    EXPECT_EQ(r.eccCorrected, 2u);
    EXPECT_EQ(r.eccUncorrected, 1u);
    EXPECT_FALSE(h[1].readings.energyRead || h[1].readings.clockEventsRead || h[1].readings.eccRead);
    EXPECT_TRUE(h[0].xids.watched);
    ASSERT_EQ(h[0].xids.kinds, 2);
    EXPECT_EQ(h[0].xids.xid[0] + h[0].xids.xid[1], 79u + 13u);
    EXPECT_EQ(h[0].xids.count[0] + h[0].xids.count[1], 2u);
    EXPECT_FALSE(h[1].xids.watched);
    // The process's compute and graphics memory as one; a process the driver
    // tells no memory of is left out.
    ASSERT_TRUE(h[0].processes.read);
    ASSERT_EQ(h[0].processes.count, 1);
    EXPECT_EQ(h[0].processes.list[0].pid, static_cast<uint32_t>(getpid()));
    EXPECT_EQ(h[0].processes.list[0].bytes, 612u * 1048576);
    EXPECT_EQ(std::string(h[0].processes.list[0].name),
              std::string(program_invocation_short_name).substr(0, 15));
}
