// The NVML-only source against fake NVML functions: a device handle points at
// its fake GPU, whose readings move with a seed and whose calls fail as a case sets.
#include "agent/linux/nvml_source.h"
#include "tests/support/wait.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

#define GAUGELINE_CALL_ENUM(field, newer, older, since, params) field,
enum Call { GAUGELINE_NVML_CALLS(GAUGELINE_CALL_ENUM) kCallCount };
#undef GAUGELINE_CALL_ENUM

struct FakeGpu {
    char name[64] = "Example GPU";
    std::atomic<uint32_t> seed{0};
    nvmlPstates_t pstate = -1; // -1: 2 + seed
    nvmlReturn_t fail[kCallCount] = {};
    std::atomic<int> calls{0};
    std::atomic<bool> moving{false}; // each temperature reading advances the seed
    std::atomic<bool> block{false};  // calls wait until it is cleared
    std::atomic<bool> blocked{false};
};

struct FakeLibrary {
    nvmlReturn_t initStatus = NVML_SUCCESS, countStatus = NVML_SUCCESS;
    uint32_t deviceCount = 1;
    int inits = 0;
    FakeGpu gpus[9];
};
FakeLibrary* gLib = nullptr;

nvmlReturn_t enter(nvmlDevice_t d, Call call, FakeGpu** out) {
    FakeGpu& g = *reinterpret_cast<FakeGpu*>(d);
    *out = &g;
    g.calls++;
    while (g.block.load()) {
        g.blocked.store(true);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return g.fail[call];
}

uint32_t byType(nvmlClockType_t type, uint32_t graphics, uint32_t sm, uint32_t mem, uint32_t video) {
    const uint32_t v[] = {graphics, sm, mem, video};
    return v[type];
}

// A device call: counts, may block, fails as set, else runs body with the GPU g at seed s.
#define GAUGELINE_FAKE(call, params, ...)                                                                    \
    a.call = [] params -> nvmlReturn_t {                                                                     \
        FakeGpu* g;                                                                                          \
        if (nvmlReturn_t r = enter(d, call, &g))                                                             \
            return r;                                                                                        \
        uint32_t s = g->seed.load();                                                                         \
        __VA_ARGS__;                                                                                         \
        return static_cast<void>(s), NVML_SUCCESS;                                                           \
    };

const NvmlApi& fakeApi() {
    static NvmlApi api = [] {
        NvmlApi a;
        a.init = []() -> nvmlReturn_t { return gLib->inits++, gLib->initStatus; };
        a.getCount = [](uint32_t* n) -> nvmlReturn_t { return *n = gLib->deviceCount, gLib->countStatus; };
        a.getHandleByIndex = [](uint32_t i, nvmlDevice_t* d) -> nvmlReturn_t {
            *d = reinterpret_cast<nvmlDevice_t>(&gLib->gpus[i]);
            return gLib->gpus[i].fail[getHandleByIndex];
        };
        // clang-format off
        GAUGELINE_FAKE(getName, (nvmlDevice_t d, char* name, uint32_t n), std::snprintf(name, n, "%s", g->name))
        GAUGELINE_FAKE(getClockInfo, (nvmlDevice_t d, nvmlClockType_t t, uint32_t* mhz),
                       *mhz = byType(t, 1500, 1600, 7000, 1300) + s)
        GAUGELINE_FAKE(getMaxClockInfo, (nvmlDevice_t d, nvmlClockType_t t, uint32_t* mhz),
                       *mhz = byType(t, 2000, 2100, 8000, 1900) + s)
        GAUGELINE_FAKE(getDefaultApplicationsClock, (nvmlDevice_t d, nvmlClockType_t t, uint32_t* mhz),
                       if (t == NVML_CLOCK_SM || t == NVML_CLOCK_VIDEO) return NVML_ERROR_NOT_SUPPORTED;
                       *mhz = byType(t, 1200, 0, 6000, 0) + s)
        GAUGELINE_FAKE(getUtilizationRates, (nvmlDevice_t d, nvmlUtilization_t* u), *u = {40 + s, 20 + s})
        GAUGELINE_FAKE(getEncoderUtilization, (nvmlDevice_t d, uint32_t* pct, uint32_t*), *pct = 30 + s)
        GAUGELINE_FAKE(getDecoderUtilization, (nvmlDevice_t d, uint32_t* pct, uint32_t*), *pct = 10 + s)
        GAUGELINE_FAKE(getMemoryInfoV2, (nvmlDevice_t d, nvmlMemory_v2_t* m),
                       if (m->version != nvmlMemory_v2) return NVML_ERROR_INVALID_ARGUMENT;
                       m->total = (16ull << 30) + 1023 + s * 1024; m->used = (4ull << 30) + 1023 + s * 1024)
        GAUGELINE_FAKE(getMemoryInfo, (nvmlDevice_t d, nvmlMemory_t* m),
                       m->total = (8ull << 30) + 1023 + s * 1024; m->used = (2ull << 30) + 512 + s * 1024)
        GAUGELINE_FAKE(getTemperature, (nvmlDevice_t d, nvmlTemperatureSensors_t t, uint32_t* c),
                       *c = t == NVML_TEMPERATURE_GPU ? 60 + s : 0; if (g->moving.load()) g->seed++)
        GAUGELINE_FAKE(getPowerUsage, (nvmlDevice_t d, uint32_t* mw), *mw = 150000 + s)
        GAUGELINE_FAKE(getEnforcedPowerLimit, (nvmlDevice_t d, uint32_t* mw), *mw = 250000 + s)
        GAUGELINE_FAKE(getPowerManagementLimit, (nvmlDevice_t d, uint32_t* mw), *mw = 270000 + s)
        GAUGELINE_FAKE(getFanSpeed, (nvmlDevice_t d, uint32_t* pct), *pct = 45 + s)
        GAUGELINE_FAKE(getFanSpeedRpm, (nvmlDevice_t d, nvmlFanSpeedInfo_t* f),
                       if (f->version != nvmlFanSpeedInfo_v1 || f->fan != 0) return NVML_ERROR_INVALID_ARGUMENT;
                       f->speed = 1800 + s)
        GAUGELINE_FAKE(getPerformanceState, (nvmlDevice_t d, nvmlPstates_t* p),
                       *p = g->pstate >= 0 ? g->pstate : static_cast<int32_t>(2 + s))
        // clang-format on
        return a;
    }();
    return api;
}

// A fresh library and state per case; the source uses the fake functions
// unless a case edits its own copy in api.
struct Rig {
    std::unique_ptr<FakeLibrary> lib = std::make_unique<FakeLibrary>();
    std::unique_ptr<AgentState> state = std::make_unique<AgentState>();
    NvmlApi api = fakeApi();
    NvmlSource source;
    Rig(uint32_t devices = 1) {
        gLib = lib.get();
        lib->deviceCount = devices;
        source.api = &api;
    }
    NvmlStartResult start() { return startSampler(*state, source); }
    GpuSample sample(int slot) {
        GpuSample out[kGpuSlotCount];
        snapshotSamples(*state, out);
        return out[slot];
    }
};

struct Field {
    const char* name;
    uint32_t base, perSeed;
};
// Every reading the fake GPU gives at seed s is base + perSeed * s; fields not listed stay 0.
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

void expectSample(const GpuSample& got, uint32_t seed, const std::vector<Override>& overrides) {
    auto expectField = [&](const char* name, uint32_t value) {
        uint32_t want = 0;
        for (const Field& f : kMapping)
            if (std::strcmp(f.name, name) == 0)
                want = f.base + f.perSeed * seed;
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

TEST(NvmlSample, FailedReadingKeepsValueAndFlagOfThePassBefore) {
    struct Row {
        const char* what;
        std::vector<Call> fail, missing;
        std::vector<Override> expect;
        nvmlPstates_t pstate = -1;
        uint32_t firstSeed = 0, secondSeed = 1;
        bool fromFirstPass = false, keepsFirstPass = false;
    };
    // clang-format off
    const Row rows[] = {
        {"every call fails: all readings stay", {getClockInfo, getDefaultApplicationsClock, getMaxClockInfo,
         getUtilizationRates, getEncoderUtilization, getDecoderUtilization, getMemoryInfoV2, getMemoryInfo,
         getTemperature, getPowerUsage, getEnforcedPowerLimit, getPowerManagementLimit, getFanSpeed,
         getPerformanceState}, {getFanSpeedRpm}, {}, -1, 0, 1, false, true},
        {"scale never falls", {}, {}, {{"graphicsClockScale", 2009000}, {"memoryClockScale", 8009000}}, -1, 9, 0},
        {"encoder fails: decoder alone", {getEncoderUtilization}, {}, {{"videoEngineLoad", 11}}},
        {"memory v2 fails: v1", {getMemoryInfoV2}, {}, {{"memoryTotal", 8388609}, {"memoryUsage", 2097153}}},
        {"power draw", {getPowerUsage}, {}, {{"powerDraw", 150000}, {"powerLimit", 250000}}},
        {"fan rpm never read", {}, {getFanSpeedRpm}, {{"fanRpm", 0}, {"fanRpmSupported", 0}}, -1, 0, 1, true},
        {"power never read", {getEnforcedPowerLimit}, {},
         {{"powerDraw", 0}, {"powerLimit", 0}, {"powerDrawSupported", 0}, {"enforcedPowerLimit", 0},
          {"enforcedPowerLimitSupported", 0}}, -1, 0, 1, true},
        {"P-state above 15", {}, {}, {{"pState", 2}}, 16},
    };
    // clang-format on
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        Rig rig;
        ASSERT_EQ(rig.start().outcome, NvmlStartOutcome::Ok);
        FakeGpu& gpu = rig.lib->gpus[0];
        auto breakCalls = [&] {
            for (Call c : row.fail)
                gpu.fail[c] = NVML_ERROR_NOT_SUPPORTED;
#define GAUGELINE_DROP(field, newer, older, since, params)                                                   \
    for (Call c : row.missing)                                                                               \
        if (c == field)                                                                                      \
            rig.api.field = nullptr;
            GAUGELINE_NVML_CALLS(GAUGELINE_DROP)
#undef GAUGELINE_DROP
        };
        if (row.fromFirstPass)
            breakCalls();
        gpu.seed = row.firstSeed;
        sampleSlot(*rig.state, rig.source, 0);
        breakCalls();
        gpu.seed = row.secondSeed;
        gpu.pstate = row.pstate;
        sampleSlot(*rig.state, rig.source, 0);
        expectSample(rig.sample(0), row.keepsFirstPass ? row.firstSeed : row.secondSeed, row.expect);
    }
}

void countLost(void* context, int slot) {
    static_cast<std::vector<int>*>(context)->push_back(slot);
}

TEST(NvmlSample, LostGpuIsNotCalledAgainAndToldOnce) {
    const struct {
        nvmlReturn_t status;
        bool lost;
    } rows[] = {{NVML_ERROR_GPU_IS_LOST, true}, {NVML_ERROR_UNKNOWN, false}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.status);
        Rig rig(2);
        std::vector<int> told;
        rig.source.callbacks.context = &told;
        rig.source.callbacks.lost = countLost;
        ASSERT_EQ(rig.start().outcome, NvmlStartOutcome::Ok);
        rig.lib->gpus[0].fail[getUtilizationRates] = row.status;
        rig.lib->gpus[0].fail[getTemperature] = row.status;
        int before[2] = {};
        for (int pass = 0; pass < 3; ++pass) {
            if (pass == 1) // a lost GPU's last reading ages, so the metrics take it down
                rig.state->slots[0].lastReadingMs.store(0);
            for (int slot = 0; slot < 2; ++slot) {
                before[slot] = rig.lib->gpus[slot].calls;
                sampleSlot(*rig.state, rig.source, slot);
            }
        }
        EXPECT_EQ(rig.lib->gpus[0].calls == before[0], row.lost);
        EXPECT_EQ(rig.state->slots[0].lastReadingMs.load() == 0, row.lost);
        EXPECT_GT(rig.lib->gpus[1].calls, before[1]);
        EXPECT_EQ(told, row.lost ? std::vector<int>{0} : std::vector<int>{});
    }
}

TEST(NvmlStart, OutcomeCountNamesAndLabels) {
    const std::string unknown = " (UNKNOWN \x90\xDA\x91\xB1)";
    const struct {
        uint32_t devices;
        nvmlReturn_t init, count;
        int failGpu;
        Call failCall;
        NvmlStartOutcome outcome;
        nvmlReturn_t error;
        int gpuCount;
        std::string firstLabel, lastLabel;
    } rows[] = {
        {9, 0, 0, -1, init, NvmlStartOutcome::Ok, 0, 8, "GPU 0(1)" + unknown, "GPU 7(8)" + unknown},
        {1, 0, 0, -1, init, NvmlStartOutcome::Ok, 0, 1, "GPU 0" + unknown, "GPU 0" + unknown},
        {0, 0, 0, -1, init, NvmlStartOutcome::NoGpu, 0, 0, "", ""},
        {0, NVML_ERROR_DRIVER_NOT_LOADED, 0, -1, init, NvmlStartOutcome::InitFailed, 9, 0, "", ""},
        {2, 0, NVML_ERROR_UNKNOWN, -1, init, NvmlStartOutcome::CountFailed, 999, 0, "", ""},
        {2, 0, 0, 1, getName, NvmlStartOutcome::Ok, 0, 2, "GPU 0(1)" + unknown, "- empty -(2)" + unknown},
        {2, 0, 0, 0, getHandleByIndex, NvmlStartOutcome::Ok, 0, 2, "- empty -(1)" + unknown,
         "GPU 1(2)" + unknown},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.devices);
        Rig rig(row.devices);
        rig.lib->initStatus = row.init;
        rig.lib->countStatus = row.count;
        for (int i = 0; i < 9; ++i)
            std::snprintf(rig.lib->gpus[i].name, sizeof rig.lib->gpus[i].name, "GPU %d", i);
        if (row.failGpu >= 0)
            rig.lib->gpus[row.failGpu].fail[row.failCall] = NVML_ERROR_NO_PERMISSION;
        NvmlStartResult r = rig.start();
        EXPECT_EQ(r.outcome, row.outcome);
        EXPECT_EQ(r.error, row.error);
        EXPECT_EQ(r.deviceCount, row.devices);
        EXPECT_EQ(rig.lib->inits, 1);
        EXPECT_EQ(rig.state->gpuCount.load(), row.gpuCount);
        for (int i = 0; i < kGpuSlotCount; ++i)
            EXPECT_EQ(r.slotError[i], i == row.failGpu ? NVML_ERROR_NO_PERMISSION : NVML_SUCCESS);
        int last = row.gpuCount > 0 ? row.gpuCount - 1 : 0;
        EXPECT_EQ(std::string(rig.sample(0).tabLabel), row.firstLabel);
        EXPECT_EQ(std::string(rig.sample(last).tabLabel), row.lastLabel);
    }
}

TEST(NvmlStart, NameIsCutToTheFieldAndKeptAscii) {
    Rig rig;
    std::snprintf(rig.lib->gpus[0].name, sizeof rig.lib->gpus[0].name, "%s",
                  "NVIDIA \xC3\xA9 GeForce RTX 4090 Laptop GPU with a long tail");
    ASSERT_EQ(rig.start().outcome, NvmlStartOutcome::Ok);
    EXPECT_EQ(std::wstring(rig.state->slots[0].fullName), L"NVIDIA ?? GeForce RTX 4090 Laptop GPU w");
}

// One slot's driver calls hang; the other slot's readings go on, and the
// program sees that a call is still running, so it must not shut NVML down.
TEST(NvmlSamplerConcurrency, HungGpuDelaysNoOtherSlotAndBlocksShutdown) {
    Rig rig(2);
    ASSERT_EQ(rig.start().outcome, NvmlStartOutcome::Ok);
    FakeGpu& hung = rig.lib->gpus[0];
    FakeGpu& live = rig.lib->gpus[1];
    hung.block = true;
    live.moving = true;
    std::thread samplers[2];
    for (int slot = 0; slot < 2; ++slot)
        samplers[slot] = std::thread([&rig, slot] { runSampler(*rig.state, rig.source, slot, 1); });
    EXPECT_TRUE(eventually([&] { return hung.blocked.load(); }, 20000, 1));
    int32_t seen = rig.sample(1).temperature;
    EXPECT_TRUE(eventually([&] { return rig.sample(1).temperature >= seen + 5; }, 20000, 1));
    EXPECT_FALSE(stopSampler(rig.source, 20));
    hung.block = false;
    EXPECT_TRUE(stopSampler(rig.source, 20000));
    for (std::thread& t : samplers)
        t.join();
}

} // namespace
