// The NVML-only source over the simulated libnvidia-ml.so.1, opened and bound
// as the Agent does it; each case writes its scenario, and readings ramp with
// the scenario's fixed time, so a pass at time s reads base + step * s.
#include "agent/linux/nvml_source.h"
#include "gpu/nvml_library.h"
#include "tests/support/wait.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

struct Sim {
    NvmlApi api;
    int (*reload)() = nullptr;
    void (*resetCounts)() = nullptr;
    uint32_t (*count)(const char* name) = nullptr;
};

// Loads the library on first use (by its path, so that the loader's dlopen of
// the plain name finds this one) and makes scenario its scenario.
Sim gSim;

void useScenario(const std::string& scenario) {
    Sim& sim = gSim;
    const std::string path = testing::TempDir() + "nvml_source_" + std::to_string(getpid()) + ".scenario";
    std::ofstream(path) << scenario;
    if (!sim.reload) {
        setenv("GAUGELINE_SIM_SCENARIO", path.c_str(), 1);
        void* pinned = dlopen(GAUGELINE_SIM_LINUX_DIR "/libnvidia-ml.so.1", RTLD_NOW);
        char error[256];
        void* library = openNvmlLibrary(error, sizeof error);
        EXPECT_TRUE(pinned && library == pinned) << error;
        bindNvml(&sim.api, lookupNvmlExport, library, NvmlGeneration::Newest);
        sim.reload = reinterpret_cast<int (*)()>(dlsym(library, "gaugelineSimReload"));
        sim.resetCounts = reinterpret_cast<void (*)()>(dlsym(library, "gaugelineSimResetCounts"));
        sim.count = reinterpret_cast<uint32_t (*)(const char*)>(dlsym(library, "gaugelineSimCallCount"));
    }
    EXPECT_EQ(sim.reload(), 0) << scenario;
    std::remove(path.c_str());
}

struct Rig {
    std::unique_ptr<AgentState> state = std::make_unique<AgentState>();
    NvmlApi api; // the bound calls; a case may replace one
    NvmlSource source;
    explicit Rig(const std::string& scenario) {
        useScenario(scenario);
        api = gSim.api;
        source.api = &api;
    }
    NvmlStartResult start() { return startSampler(*state, source); }
    GpuSample sample(int slot) {
        GpuSample out[kGpuSlotCount];
        snapshotSamples(*state, out);
        return out[slot];
    }
};

const char kRamps[] =
    "gpu 0 graphicsClock ramp 1500000 1000\ngpu 0 processorClock ramp 1600000 1000\n"
    "gpu 0 memoryClock ramp 7000000 1000\ngpu 0 videoClock ramp 1300000 1000\n"
    "gpu 0 graphicsClockBase ramp 1200000 1000\ngpu 0 memoryClockBase ramp 6000000 1000\n"
    "gpu 0 graphicsClockBoost ramp 2000000 1000\ngpu 0 processorClockBoost ramp 2100000 1000\n"
    "gpu 0 memoryClockBoost ramp 8000000 1000\ngpu 0 videoClockBoost ramp 1900000 1000\n"
    "gpu 0 gpuLoad ramp 40 1\ngpu 0 memoryControllerLoad ramp 20 1\n"
    "gpu 0 encoderLoad ramp 30 1\ngpu 0 decoderLoad ramp 10 1\n"
    "gpu 0 memoryTotal ramp 16777216 1\ngpu 0 memoryUsed ramp 4194304 1\n"
    "gpu 0 temperature ramp 60 1\ngpu 0 powerDraw ramp 150000 1\n"
    "gpu 0 powerLimit ramp 250000 1\ngpu 0 powerManagementLimit ramp 270000 1\n"
    "gpu 0 fanLevel ramp 45 1\ngpu 0 fanRpm ramp 1800 1\ngpu 0 pstate ramp 2 1\n";

struct Field {
    const char* name;
    uint32_t base, perSecond;
};
// Every reading at time s is base + perSecond * s; fields not listed stay 0.
// clang-format off
const Field kMapping[] = {
    {"graphicsClockSupported", 1, 0}, {"graphicsClock", 1500000, 1000}, {"memoryClockSupported", 1, 0},
    {"memoryClock", 7000000, 1000}, {"processorClockSupported", 1, 0}, {"processorClock", 1600000, 1000},
    {"videoClockSupported", 1, 0}, {"videoClock", 1300000, 1000}, {"graphicsClockRated", 1200000, 1000},
    {"memoryClockRated", 6000000, 1000}, {"graphicsClockScale", 2000000, 1000},
    {"memoryClockScale", 8000000, 1000}, {"gpuLoadSupported", 1, 0}, {"gpuLoad", 40, 1},
    {"memoryControllerLoadSupported", 1, 0}, {"memoryControllerLoad", 20, 1},
    {"videoEngineLoadSupported", 1, 0}, {"videoEngineLoad", 30, 1}, {"memoryTotal", 16777216, 1},
    {"memoryUsageSupported", 1, 0}, {"memoryUsage", 4194304, 1}, {"temperatureSupported", 1, 0},
    {"temperature", 60, 1}, {"powerDrawSupported", 1, 0}, {"powerDraw", 150000, 1}, {"powerLimit", 250000, 1},
    {"fanLevelSupported", 1, 0}, {"fanLevel", 45, 1}, {"fanRpmSupported", 1, 0}, {"fanRpm", 1800, 1},
    {"pStateSupported", 1, 0}, {"pState", 2, 1}, {"graphicsClockMax", 2000000, 1000},
    {"memoryClockMax", 8000000, 1000}, {"processorClockMax", 2100000, 1000}, {"videoClockMax", 1900000, 1000},
    {"enforcedPowerLimitSupported", 1, 0}, {"enforcedPowerLimit", 250000, 1},
    {"managementPowerLimitSupported", 1, 0}, {"managementPowerLimit", 270000, 1},
};
// clang-format on

struct Override {
    const char* name;
    uint32_t value;
};

void expectSample(const GpuSample& got, uint32_t seconds, const std::vector<Override>& overrides) {
    auto expectField = [&](const char* name, uint32_t value) {
        uint32_t want = 0;
        for (const Field& f : kMapping)
            if (std::strcmp(f.name, name) == 0)
                want = f.base + f.perSecond * seconds;
        for (const Override& o : overrides)
            if (std::strcmp(o.name, name) == 0)
                want = o.value;
        EXPECT_EQ(value, want) << name;
    };
    for (int k = 0; k < kSampleFieldCount; ++k)
        expectField(kSampleFields[k].name, sampleFieldBits(got, k));
#define GAUGELINE_EXPECT_AGENT_FIELD(name) expectField(#name, got.name);
    GAUGELINE_AGENT_ONLY_FIELDS(GAUGELINE_EXPECT_AGENT_FIELD)
#undef GAUGELINE_EXPECT_AGENT_FIELD
}

// "fail nvmlDeviceGetX" for each X named.
std::string failing(const char* names) {
    std::istringstream in(names);
    std::string out, name;
    while (in >> name)
        out += "fail nvmlDeviceGet" + name + "\n";
    return out;
}

TEST(NvmlSample, FailedReadingKeepsValueAndFlagOfThePassBefore) {
    struct Row {
        const char* what;
        const char *alwaysFail, *secondFail;
        void (*edit)(NvmlApi& api); // from the first pass
        uint32_t firstTime, secondTime, expectedTime;
        std::vector<Override> expect;
    };
    auto none = [](NvmlApi&) {};
    // clang-format off
    const Row rows[] = {
        {"every call fails: all readings stay", "", "ClockInfo DefaultApplicationsClock MaxClockInfo "
         "UtilizationRates EncoderUtilization DecoderUtilization MemoryInfo_v2 MemoryInfo Temperature PowerUsage "
         "EnforcedPowerLimit PowerManagementLimit FanSpeed FanSpeedRPM PerformanceState", none, 0, 1, 0, {}},
        {"scale never falls; memory v2", "MemoryInfo", "", none, 9, 0, 0,
         {{"graphicsClockScale", 2009000}, {"memoryClockScale", 8009000}}},
        {"encoder fails: decoder alone", "", "EncoderUtilization", none, 0, 1, 1, {{"videoEngineLoad", 11}}},
        {"memory v2 fails: v1", "", "MemoryInfo_v2", none, 0, 1, 1, {}},
        {"power draw", "", "PowerUsage", none, 0, 1, 1, {{"powerDraw", 150000}, {"powerLimit", 250000}}},
        {"fan rpm never read", "", "", [](NvmlApi& api) { api.getFanSpeedRpm = nullptr; }, 0, 1, 1,
         {{"fanRpm", 0}, {"fanRpmSupported", 0}}},
        {"power never read", "EnforcedPowerLimit", "", none, 0, 1, 1,
         {{"powerDraw", 0}, {"powerLimit", 0}, {"powerDrawSupported", 0}, {"enforcedPowerLimit", 0},
          {"enforcedPowerLimitSupported", 0}}},
        {"P-state above 15", "", "", [](NvmlApi& api) {
             api.getPerformanceState = [](nvmlDevice_t, nvmlPstates_t* p) -> nvmlReturn_t { return *p = 16, 0; };
         }, 0, 1, 1, {{"pState", 0}, {"pStateSupported", 0}}},
    };
    // clang-format on
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const std::string scenario = kRamps + failing(row.alwaysFail);
        Rig rig(scenario + "time " + std::to_string(row.firstTime) + "\n");
        row.edit(rig.api);
        ASSERT_EQ(rig.start().outcome, NvmlStartOutcome::Ok);
        sampleSlot(*rig.state, rig.source, 0);
        useScenario(scenario + failing(row.secondFail) + "time " + std::to_string(row.secondTime) + "\n");
        sampleSlot(*rig.state, rig.source, 0);
        expectSample(rig.sample(0), row.expectedTime, row.expect);
    }
}

void countLost(void* context, int slot) {
    static_cast<std::vector<int>*>(context)->push_back(slot);
}

TEST(NvmlSample, LostGpuIsNotCalledAgainAndToldOnce) {
    for (nvmlReturn_t status : {NVML_ERROR_GPU_IS_LOST, NVML_ERROR_UNKNOWN}) {
        SCOPED_TRACE(status);
        const bool lost = status == NVML_ERROR_GPU_IS_LOST;
        Rig rig("gpu 0 physical\ngpu 1 physical\ntime 0\nfail nvmlDeviceGetUtilizationRates gpu 0 status " +
                std::to_string(status) + "\n");
        std::vector<int> told;
        rig.source.lostHook = countLost;
        rig.source.lostContext = &told;
        ASSERT_EQ(rig.start().outcome, NvmlStartOutcome::Ok);
        for (int pass = 0; pass < 3; ++pass) {
            if (pass == 1) // a lost GPU's last reading ages, so the metrics take it down
                rig.state->slots[0].lastReadingMs.store(0);
            if (pass == 2)
                gSim.resetCounts();
            for (int slot = 0; slot < 2; ++slot)
                sampleSlot(*rig.state, rig.source, slot);
        }
        EXPECT_EQ(gSim.count("nvmlDeviceGetTemperature"), lost ? 1u : 2u);
        EXPECT_EQ(rig.state->slots[0].lastReadingMs.load() == 0, lost);
        EXPECT_EQ(told, lost ? std::vector<int>{0} : std::vector<int>{});
    }
}

TEST(NvmlStart, OutcomeCountNamesAndLabels) {
    const std::string unknown = " (UNKNOWN \x90\xDA\x91\xB1)";
    const struct {
        int gpus;
        std::string fail;
        NvmlStartOutcome outcome;
        nvmlReturn_t error;
        uint32_t deviceCount;
        int gpuCount, failGpu;
        std::string firstLabel, lastLabel;
    } rows[] = {
        {9, "", NvmlStartOutcome::Ok, 0, 9, 8, -1, "GPU 0(1)" + unknown, "GPU 7(8)" + unknown},
        {1, "", NvmlStartOutcome::Ok, 0, 1, 1, -1, "GPU 0" + unknown, "GPU 0" + unknown},
        {0, "", NvmlStartOutcome::NoGpu, 0, 0, 0, -1, "", ""},
        {2, "fail nvmlInit_v2 status 9", NvmlStartOutcome::InitFailed, 9, 0, 0, -1, "", ""},
        {2, "fail nvmlDeviceGetCount_v2", NvmlStartOutcome::CountFailed, 999, 0, 0, -1, "", ""},
        {2, "fail nvmlDeviceGetName gpu 1 status 4", NvmlStartOutcome::Ok, 0, 2, 2, 1, "GPU 0(1)" + unknown,
         "- empty -(2)" + unknown},
        {2, "fail nvmlDeviceGetHandleByIndex_v2 gpu 0 status 4", NvmlStartOutcome::Ok, 0, 2, 2, 0,
         "- empty -(1)" + unknown, "GPU 1(2)" + unknown},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.fail);
        std::string scenario = row.gpus ? row.fail + "\n" : "nogpus\n";
        for (int i = 0; i < row.gpus; ++i)
            scenario += "gpu " + std::to_string(i) + " name GPU " + std::to_string(i) + "\n";
        Rig rig(scenario);
        NvmlStartResult r = rig.start();
        EXPECT_EQ(r.outcome, row.outcome);
        EXPECT_EQ(r.error, row.error);
        EXPECT_EQ(r.deviceCount, row.deviceCount);
        EXPECT_EQ(rig.state->gpuCount.load(), row.gpuCount);
        for (int i = 0; i < kGpuSlotCount; ++i)
            EXPECT_EQ(r.slotError[i], i == row.failGpu ? NVML_ERROR_NO_PERMISSION : NVML_SUCCESS);
        int last = row.gpuCount > 0 ? row.gpuCount - 1 : 0;
        EXPECT_EQ(std::string(rig.sample(0).tabLabel), row.firstLabel);
        EXPECT_EQ(std::string(rig.sample(last).tabLabel), row.lastLabel);
    }
}

TEST(NvmlStart, NameIsCutToTheFieldAndKeptAscii) {
    Rig rig("gpu 0 name NVIDIA \xC3\xA9 GeForce RTX 4090 Laptop GPU with a long tail\n");
    ASSERT_EQ(rig.start().outcome, NvmlStartOutcome::Ok);
    EXPECT_EQ(std::wstring(rig.state->slots[0].fullName), L"NVIDIA ?? GeForce RTX 4090 Laptop GPU w");
}

// One slot's driver calls hang; the other slot's calls go on, and the program
// sees that a call is still running, so it must not shut NVML down.
TEST(NvmlSamplerConcurrency, HungGpuDelaysNoOtherSlotAndBlocksShutdown) {
    const std::string scenario = "gpu 0 physical\ngpu 1 physical\ntime 0\n";
    Rig rig(scenario);
    ASSERT_EQ(rig.start().outcome, NvmlStartOutcome::Ok);
    useScenario(scenario + "gpu 0 hang 0 2\n");
    gSim.resetCounts();
    std::thread samplers[2];
    for (int slot = 0; slot < 2; ++slot)
        samplers[slot] = std::thread([&rig, slot] { runSampler(*rig.state, rig.source, slot, 1); });
    EXPECT_TRUE(eventually([&] { return rig.source.inCall[0].load(); }, 20000, 1));
    // Only the live GPU gets as far as its temperature.
    EXPECT_TRUE(eventually([&] { return gSim.count("nvmlDeviceGetTemperature") >= 5; }, 20000, 1));
    EXPECT_FALSE(stopSampler(rig.source, 20));
    EXPECT_TRUE(stopSampler(rig.source, 20000));
    for (std::thread& t : samplers)
        t.join();
}

} // namespace
