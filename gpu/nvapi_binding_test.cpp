// The binding layer against the simulated driver installed in the prefix's
// system directory. Each case names its own scenario before the driver loads.
#include "gpu/nvapi_binding.h"
#include "gpu/nvapi_binding_state_win.h"
#include "tests/support/sim_test_support_win.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <thread>
#include <vector>

using namespace simtest;

namespace {
class BindingTest : public ::testing::Test {
  protected:
    void TearDown() override {
        // Leave the layer unbound and the driver released for the next case.
        for (int i = 0; i < 5 && NvAPI_Unload() != NVAPI_API_NOT_INITIALIZED; ++i)
            Sleep(50);
        for (HMODULE module : held)
            FreeLibrary(module);
        held.clear();
        clearScenario();
    }
    HMODULE hold(const std::wstring& path) {
        HMODULE module = LoadLibraryW(path.c_str());
        if (module)
            held.push_back(module);
        return module;
    }
    std::vector<HMODULE> held;
};

NvPhysicalGpuHandle firstGpu() {
    NvPhysicalGpuHandle handles[NVAPI_MAX_PHYSICAL_GPUS] = {};
    uint32_t count = 0;
    if (NvAPI_EnumPhysicalGPUs(handles, &count) != NVAPI_OK || count == 0)
        return nullptr;
    return handles[0];
}

template <typename Predicate> bool waitFor(Predicate predicate, int ms = 5000) {
    for (int waited = 0; waited < ms; waited += 5) {
        if (predicate())
            return true;
        Sleep(5);
    }
    return predicate();
}

int64_t msSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
        .count();
}
} // namespace

TEST_F(BindingTest, SecondInitializeDoesNotRunTheDriversInitializeAgain) {
    useScenario("gpu 0 name Example GPU Alpha\n");
    ASSERT_EQ(NvAPI_Initialize(), NVAPI_OK);
    EXPECT_EQ(systemNvapiCount("NvAPI_Initialize"), 1u);
    EXPECT_EQ(NvAPI_Initialize(), NVAPI_OK);
    EXPECT_EQ(NvAPI_Initialize(), NVAPI_OK);
    EXPECT_EQ(systemNvapiCount("NvAPI_Initialize"), 1u);
    char name[NVAPI_SHORT_STRING_MAX];
    ASSERT_EQ(NvAPI_GPU_GetFullName(firstGpu(), name), NVAPI_OK);
    EXPECT_STREQ(name, "Example GPU Alpha");
    EXPECT_EQ(gNvapiBinding.busyCount.load(), 0);
}

TEST_F(BindingTest, EntriesBindOnDemandWithoutInitialize) {
    useScenario("gpu 0 bus 42\n");
    uint32_t bus = 0;
    ASSERT_EQ(NvAPI_GPU_GetBusId(firstGpu(), &bus), NVAPI_OK);
    EXPECT_EQ(bus, 42u);
    EXPECT_EQ(systemNvapiCount("NvAPI_Initialize"), 1u);
}

TEST_F(BindingTest, UnloadBeforeAnyInitializeChangesNothing) {
    ASSERT_FALSE(systemNvapiLoaded());
    uint32_t generation = gNvapiBinding.generation.load();
    EXPECT_EQ(NvAPI_Unload(), NVAPI_API_NOT_INITIALIZED);
    EXPECT_EQ(NvAPI_Unload(), NVAPI_API_NOT_INITIALIZED);
    EXPECT_FALSE(systemNvapiLoaded());
    EXPECT_EQ(gNvapiBinding.generation.load(), generation);
    EXPECT_EQ(gNvapiBinding.unloading.load(), 0);
    EXPECT_EQ(gNvapiBinding.busyCount.load(), 0);
}

TEST_F(BindingTest, UnloadWhileAnotherThreadIsInsideACallIsRefused) {
    useScenario("gpu 0 name Slow\ndelay GetFullName 800\n");
    ASSERT_EQ(NvAPI_Initialize(), NVAPI_OK);
    NvPhysicalGpuHandle gpu = firstGpu();
    NvAPI_Status callStatus = NVAPI_ERROR;
    char name[NVAPI_SHORT_STRING_MAX] = {};
    std::thread caller([&] { callStatus = NvAPI_GPU_GetFullName(gpu, name); });
    ASSERT_TRUE(waitFor([] { return systemNvapiCount("NvAPI_GPU_GetFullName") == 1; }));
    EXPECT_EQ(NvAPI_Unload(), NVAPI_ERROR);
    caller.join();
    EXPECT_EQ(callStatus, NVAPI_OK);
    EXPECT_STREQ(name, "Slow");
    EXPECT_EQ(systemNvapiCount("NvAPI_Unload"), 0u); // the driver's unload never ran
    EXPECT_TRUE(systemNvapiLoaded());
    uint32_t bus = 0;
    EXPECT_EQ(NvAPI_GPU_GetBusId(gpu, &bus), NVAPI_OK); // still bound, no new bind
    EXPECT_EQ(systemNvapiCount("NvAPI_Initialize"), 1u);
    EXPECT_EQ(gNvapiBinding.busyCount.load(), 0);
}

TEST_F(BindingTest, ACallDuringALongUnloadGivesUpAfterTheTenthWait) {
    useScenario("delay NvAPI_Unload 3000\n"); // well past ten waits of 100 ms
    ASSERT_EQ(NvAPI_Initialize(), NVAPI_OK);
    NvPhysicalGpuHandle gpu = firstGpu();
    NvAPI_Status unloadStatus = NVAPI_ERROR;
    std::thread unloader([&] { unloadStatus = NvAPI_Unload(); });
    ASSERT_TRUE(waitFor([] { return systemNvapiCount("NvAPI_Unload") == 1; }));
    auto start = std::chrono::steady_clock::now();
    uint32_t bus = 0;
    EXPECT_EQ(NvAPI_GPU_GetBusId(gpu, &bus), NVAPI_ERROR);
    int64_t waited = msSince(start);
    EXPECT_GE(waited, 950); // ten waits of 100 ms
    EXPECT_EQ(bus, 0u);
    unloader.join();
    EXPECT_EQ(unloadStatus, NVAPI_OK);
    EXPECT_FALSE(systemNvapiLoaded());
    EXPECT_EQ(gNvapiBinding.busyCount.load(), 0);
}

TEST_F(BindingTest, ACallDuringAShortUnloadWaitsAndThenBindsAgain) {
    useScenario("delay NvAPI_Unload 300\ngpu 0 bus 7\n");
    ASSERT_EQ(NvAPI_Initialize(), NVAPI_OK);
    NvPhysicalGpuHandle gpu = firstGpu();
    uint32_t generation = gNvapiBinding.generation.load();
    NvAPI_Status unloadStatus = NVAPI_ERROR;
    std::thread unloader([&] { unloadStatus = NvAPI_Unload(); });
    ASSERT_TRUE(waitFor([] { return systemNvapiCount("NvAPI_Unload") == 1; }));
    auto start = std::chrono::steady_clock::now();
    uint32_t bus = 0;
    EXPECT_EQ(NvAPI_GPU_GetBusId(gpu, &bus), NVAPI_OK);
    EXPECT_GE(msSince(start), 100); // it waited at the gate at least once
    unloader.join();
    EXPECT_EQ(unloadStatus, NVAPI_OK);
    EXPECT_EQ(bus, 7u);
    EXPECT_EQ(gNvapiBinding.generation.load(), generation + 1);
    EXPECT_EQ(systemNvapiCount("NvAPI_Initialize"), 1u); // a fresh load of the driver
}

TEST_F(BindingTest, AfterUnloadTheNextCallBindsAgainAndLooksEveryFunctionUpAgain) {
    useScenario("gpu 0 bus 3\n");
    HMODULE kept = hold(systemNvapiPath()); // keeps the driver's counters across the unload
    ASSERT_NE(kept, nullptr);
    uint32_t bus = 0;
    NvPhysicalGpuHandle gpu = firstGpu();
    ASSERT_EQ(NvAPI_GPU_GetBusId(gpu, &bus), NVAPI_OK);
    ASSERT_EQ(NvAPI_GPU_GetBusId(gpu, &bus), NVAPI_OK);
    EXPECT_EQ(simCount(kept, "lookup:NvAPI_GPU_GetBusId"), 1u); // cached within a binding
    EXPECT_EQ(simCount(kept, "NvAPI_Initialize"), 1u);
    uint32_t generation = gNvapiBinding.generation.load();

    ASSERT_EQ(NvAPI_Unload(), NVAPI_OK);
    EXPECT_EQ(simCount(kept, "NvAPI_Unload"), 1u);
    EXPECT_EQ(gNvapiBinding.library.load(), nullptr);
    EXPECT_EQ(gNvapiBinding.identityCheckSum.load(), 0u);
    EXPECT_EQ(gNvapiBinding.identityTimeDateStamp.load(), 0u);

    ASSERT_EQ(NvAPI_GPU_GetBusId(gpu, &bus), NVAPI_OK);
    EXPECT_EQ(bus, 3u);
    EXPECT_EQ(simCount(kept, "NvAPI_Initialize"), 2u);
    EXPECT_EQ(simCount(kept, "lookup:NvAPI_GPU_GetBusId"), 2u);
    EXPECT_EQ(simCount(kept, "lookup:NvAPI_EnumPhysicalGPUs"), 1u);
    firstGpu();
    EXPECT_EQ(simCount(kept, "lookup:NvAPI_EnumPhysicalGPUs"), 2u);
    EXPECT_EQ(gNvapiBinding.generation.load(), generation + 1);
}

TEST_F(BindingTest, AfterUnloadTheDriverIsReleasedAndLoadedAfresh) {
    useScenario("");
    ASSERT_EQ(NvAPI_Initialize(), NVAPI_OK);
    ASSERT_TRUE(systemNvapiLoaded());
    ASSERT_EQ(NvAPI_Unload(), NVAPI_OK);
    EXPECT_FALSE(systemNvapiLoaded());
    EXPECT_EQ(NvAPI_Unload(), NVAPI_API_NOT_INITIALIZED);
    ASSERT_EQ(NvAPI_Initialize(), NVAPI_OK);
    EXPECT_TRUE(systemNvapiLoaded());
    EXPECT_EQ(systemNvapiCount("NvAPI_Initialize"), 1u);
}

TEST_F(BindingTest, TheSameModuleLoadedByOtherCodeIsStillLoadedThroughTheLoaderAndBound) {
    useScenario("");
    HMODULE other = hold(systemNvapiPath());
    ASSERT_NE(other, nullptr);
    ASSERT_EQ(NvAPI_Initialize(), NVAPI_OK);
    EXPECT_EQ(gNvapiBinding.library.load(), other);
    EXPECT_EQ(simCount(other, "NvAPI_Initialize"), 1u);
    ASSERT_EQ(NvAPI_Unload(), NVAPI_OK);
    EXPECT_TRUE(systemNvapiLoaded()); // the layer released only its own reference
}

TEST_F(BindingTest, ACopyWithAnotherIdentityLoadedElsewhereDoesNotStopTheSystemCopyBinding) {
    useScenario("gpu 0 bus 11\n");
    HMODULE alt = hold(altNvapiPath());
    ASSERT_NE(alt, nullptr) << "alt copy missing";
    ASSERT_EQ(GetModuleHandleA("nvapi64.dll"), alt);
    ASSERT_EQ(NvAPI_Initialize(), NVAPI_OK);
    HMODULE system = GetModuleHandleW(systemNvapiPath().c_str());
    ASSERT_NE(system, nullptr);
    EXPECT_NE(system, alt);
    EXPECT_EQ(gNvapiBinding.library.load(), system);
    uint32_t bus = 0;
    NvPhysicalGpuHandle gpu = firstGpu();
    for (int i = 0; i < 5; ++i) {
        ASSERT_EQ(NvAPI_GPU_GetBusId(gpu, &bus), NVAPI_OK);
        EXPECT_EQ(bus, 11u);
    }
    // Every call went to the system directory's copy, bound once.
    EXPECT_EQ(simCount(system, "NvAPI_Initialize"), 1u);
    EXPECT_EQ(simCount(system, "NvAPI_GPU_GetBusId"), 5u);
    EXPECT_EQ(simCount(alt, "NvAPI_Initialize"), 0u);
    EXPECT_EQ(simCount(alt, "NvAPI_GPU_GetBusId"), 0u);
    ASSERT_EQ(NvAPI_Unload(), NVAPI_OK);
    EXPECT_FALSE(systemNvapiLoaded());
    EXPECT_EQ(GetModuleHandleA("nvapi64.dll"), alt);
}

TEST_F(BindingTest, HooksAreCalledAroundEveryCallOnlyWhenBothAreOffered) {
    struct Case {
        const char* hooks;
        uint32_t expected;
    };
    const Case cases[] = {{"both", 3}, {"entry", 0}, {"exit", 0}, {"none", 0}};
    for (const Case& c : cases) {
        useScenario(std::string("hooks ") + c.hooks + "\n");
        uint32_t bus;
        NvPhysicalGpuHandle gpu = firstGpu(); // binds
        NvAPI_GPU_GetBusId(gpu, &bus);
        NvAPI_GPU_GetBusId(gpu, &bus);
        EXPECT_EQ(systemNvapiCount("EntryHook"), c.expected) << c.hooks;
        EXPECT_EQ(systemNvapiCount("ExitHook"), c.expected) << c.hooks;
        EXPECT_EQ(systemNvapiCount("hook.badcookie"), 0u) << c.hooks;
        ASSERT_EQ(NvAPI_Unload(), NVAPI_OK);
    }
}

TEST_F(BindingTest, AMissingIdGivesNoImplementationAndIsLookedUpEveryTime) {
    useScenario("omit NvAPI_GPU_GetBusId\n");
    NvPhysicalGpuHandle gpu = firstGpu();
    ASSERT_NE(gpu, nullptr);
    uint32_t bus = 99;
    for (uint32_t i = 1; i <= 3; ++i) {
        EXPECT_EQ(NvAPI_GPU_GetBusId(gpu, &bus), NVAPI_NO_IMPLEMENTATION);
        EXPECT_EQ(systemNvapiCount("lookup:NvAPI_GPU_GetBusId"), i);
    }
    EXPECT_EQ(bus, 99u);
    EXPECT_EQ(gNvapiBinding.busyCount.load(), 0);
    char name[NVAPI_SHORT_STRING_MAX];
    EXPECT_EQ(NvAPI_GPU_GetFullName(gpu, name), NVAPI_OK);
}

TEST_F(BindingTest, BindFailuresReleaseTheModuleAndReportTheirStatus) {
    struct Case {
        const char* scenario;
        NvAPI_Status expected;
    };
    const Case cases[] = {
        {"omit nvapi_QueryInterface\n", NVAPI_ERROR},
        {"omit NvAPI_Initialize\n", NVAPI_ERROR},
        {"fail NvAPI_Initialize status -6\n", NVAPI_NVIDIA_DEVICE_NOT_FOUND},
        {"fail NvAPI_Initialize status 5\n", 5},
    };
    for (const Case& c : cases) {
        useScenario(c.scenario);
        EXPECT_EQ(NvAPI_Initialize(), c.expected) << c.scenario;
        EXPECT_FALSE(systemNvapiLoaded()) << c.scenario;
        uint32_t bus;
        EXPECT_EQ(NvAPI_GPU_GetBusId(nullptr, &bus), c.expected) << c.scenario;
        EXPECT_EQ(NvAPI_Unload(), NVAPI_API_NOT_INITIALIZED);
        EXPECT_EQ(gNvapiBinding.busyCount.load(), 0);
        EXPECT_EQ(gNvapiBinding.queryInterface.load(), nullptr);
    }
}

TEST_F(BindingTest, AFailedInitializeIsTriedAgainOnTheNextCall) {
    useScenario("fail NvAPI_Initialize until 1 status -6\n");
    HMODULE kept = hold(systemNvapiPath());
    ASSERT_NE(kept, nullptr);
    EXPECT_EQ(NvAPI_Initialize(), NVAPI_NVIDIA_DEVICE_NOT_FOUND);
    EXPECT_EQ(NvAPI_Initialize(), NVAPI_OK);
    EXPECT_EQ(simCount(kept, "NvAPI_Initialize"), 2u);
    EXPECT_EQ(NvAPI_Initialize(), NVAPI_OK);
    EXPECT_EQ(simCount(kept, "NvAPI_Initialize"), 2u);
}

TEST_F(BindingTest, UnloadRefusalsLeaveTheLayerBound) {
    struct Case {
        const char* scenario;
        NvAPI_Status expected;
    };
    const Case cases[] = {
        {"omit NvAPI_Unload\n", NVAPI_NO_IMPLEMENTATION},
        {"fail NvAPI_Unload status -5\n", NVAPI_ERROR}, // the driver's own status is not passed on
    };
    for (const Case& c : cases) {
        useScenario(c.scenario);
        ASSERT_EQ(NvAPI_Initialize(), NVAPI_OK);
        EXPECT_EQ(NvAPI_Unload(), c.expected) << c.scenario;
        EXPECT_TRUE(systemNvapiLoaded());
        EXPECT_NE(gNvapiBinding.queryInterface.load(), nullptr);
        EXPECT_EQ(gNvapiBinding.unloading.load(), 0);
        uint32_t bus;
        EXPECT_EQ(NvAPI_GPU_GetBusId(firstGpu(), &bus), NVAPI_OK);
        // Let the unload through so the next case starts unbound.
        useScenario("");
        ASSERT_EQ(NvAPI_Unload(), NVAPI_OK);
    }
}

TEST_F(BindingTest, DriverStatusesPassThroughUnchanged) {
    useScenario("fail GetThermalSettings status -104\nfail GetCurrentPstate from 2 status -121\n");
    NvPhysicalGpuHandle gpu = firstGpu();
    NV_GPU_THERMAL_SETTINGS thermal{};
    thermal.version = NV_GPU_THERMAL_SETTINGS_VER_2;
    EXPECT_EQ(NvAPI_GPU_GetThermalSettings(gpu, 0, &thermal), NVAPI_NOT_SUPPORTED);
    uint32_t pstate = 0;
    EXPECT_EQ(NvAPI_GPU_GetCurrentPstate(gpu, &pstate), NVAPI_OK);
    EXPECT_EQ(NvAPI_GPU_GetCurrentPstate(gpu, &pstate), NVAPI_DATA_NOT_FOUND);
    NV_GPU_CLOCK_FREQUENCIES clocks{};
    clocks.version = 0x40108;
    EXPECT_EQ(NvAPI_GPU_GetAllClockFrequencies(gpu, &clocks), NVAPI_INCOMPATIBLE_STRUCT_VERSION);
}

// Every entry carries its parameters through to the driver and its records back.
TEST_F(BindingTest, EveryEntryForwardsItsParametersAndRecords) {
    useScenario("time 0\n"
                "gpu 0 name Example GPU One\n"
                "gpu 0 bus 5\n"
                "gpu 0 connector HDMI\n"
                "gpu 0 displays 2\n"
                "gpu 0 graphicsClock 1500000\n"
                "gpu 0 graphicsClockBoost 1900000\n"
                "gpu 0 memoryClock 7000000\n"
                "gpu 0 gpuLoad 61\n"
                "gpu 0 memoryControllerLoad 22\n"
                "gpu 0 videoEngineLoad 7\n"
                "gpu 0 busInterfaceLoad 3\n"
                "gpu 0 temperature 66\n"
                "gpu 0 memoryTotal 8388608\n"
                "gpu 0 memoryUsed 1000000\n"
                "gpu 0 fanLevel 45\n"
                "gpu 0 fanRpm 1650\n"
                "gpu 0 coreVoltage 912000\n"
                "gpu 0 baseVoltage 800000\n"
                "gpu 0 pstate 2\n"
                "gpu 1 tcc\n"
                "gpu 1 name Example GPU Compute\n");
    NvPhysicalGpuHandle handles[NVAPI_MAX_PHYSICAL_GPUS] = {};
    uint32_t physical = 0, tcc = 0;
    ASSERT_EQ(NvAPI_EnumPhysicalGPUs(handles, &physical), NVAPI_OK);
    ASSERT_EQ(physical, 1u);
    ASSERT_EQ(NvAPI_EnumTCCPhysicalGPUs(handles + physical, &tcc), NVAPI_OK);
    ASSERT_EQ(tcc, 1u);
    NvPhysicalGpuHandle gpu = handles[0];
    char name[NVAPI_SHORT_STRING_MAX];
    ASSERT_EQ(NvAPI_GPU_GetFullName(handles[1], name), NVAPI_OK);
    EXPECT_STREQ(name, "Example GPU Compute");

    uint32_t bus = 0;
    ASSERT_EQ(NvAPI_GPU_GetBusId(gpu, &bus), NVAPI_OK);
    EXPECT_EQ(bus, 5u);

    NV_GPU_CLOCK_FREQUENCIES clocks{};
    clocks.version = NV_GPU_CLOCK_FREQUENCIES_VER_3;
    clocks.clockType = NV_GPU_CLOCK_FREQUENCIES_BOOST_CLOCK;
    ASSERT_EQ(NvAPI_GPU_GetAllClockFrequencies(gpu, &clocks), NVAPI_OK);
    EXPECT_EQ(clocks.domain[NVAPI_GPU_PUBLIC_CLOCK_GRAPHICS].frequency, 1900000u);
    EXPECT_EQ(clocks.version, NV_GPU_CLOCK_FREQUENCIES_VER_3);

    NV_GPU_PERF_PSTATES20_INFO pstates{};
    pstates.version = NV_GPU_PERF_PSTATES20_INFO_VER3;
    ASSERT_EQ(NvAPI_GPU_GetPstates20(gpu, &pstates), NVAPI_OK);
    EXPECT_EQ(pstates.pstates[0].pstateId, 0u);
    EXPECT_EQ(pstates.pstates[0].baseVoltages[0].volt_uV, 800000u);

    uint32_t pstate = 99;
    ASSERT_EQ(NvAPI_GPU_GetCurrentPstate(gpu, &pstate), NVAPI_OK);
    EXPECT_EQ(pstate, 2u);

    NV_GPU_DYNAMIC_PSTATES_INFO_EX dynamic{};
    dynamic.version = NV_GPU_DYNAMIC_PSTATES_INFO_EX_VER;
    ASSERT_EQ(NvAPI_GPU_GetDynamicPstatesInfoEx(gpu, &dynamic), NVAPI_OK);
    EXPECT_EQ(dynamic.utilization[1].percentage, 22u);
    EXPECT_EQ(dynamic.utilization[2].percentage, 7u);
    EXPECT_EQ(dynamic.utilization[3].percentage, 3u);

    NV_GPU_THERMAL_SETTINGS thermal{};
    thermal.version = NV_GPU_THERMAL_SETTINGS_VER_2;
    ASSERT_EQ(NvAPI_GPU_GetThermalSettings(gpu, 0, &thermal), NVAPI_OK);
    EXPECT_EQ(thermal.sensor[0].currentTemp, 66);
    EXPECT_EQ(NvAPI_GPU_GetThermalSettings(gpu, 2, &thermal), NVAPI_INVALID_ARGUMENT); // index passed on

    NV_DISPLAY_DRIVER_MEMORY_INFO memory{};
    memory.version = NV_DISPLAY_DRIVER_MEMORY_INFO_VER_2;
    ASSERT_EQ(NvAPI_GPU_GetMemoryInfo(gpu, &memory), NVAPI_OK);
    EXPECT_EQ(memory.dedicatedVideoMemory, 8388608u);
    EXPECT_EQ(memory.curAvailableDedicatedVideoMemory, 8388608u - 1000000u);

    uint32_t frameBuffer = 0;
    ASSERT_EQ(NvAPI_GPU_GetPhysicalFrameBufferSize(gpu, &frameBuffer), NVAPI_OK);
    EXPECT_EQ(frameBuffer, 8388608u);

    uint32_t displays = 0;
    ASSERT_EQ(NvAPI_GPU_GetConnectedDisplayIds(gpu, nullptr, &displays, 0), NVAPI_OK);
    ASSERT_EQ(displays, 2u);
    NV_GPU_DISPLAYIDS ids[2] = {};
    ids[0].version = ids[1].version = NV_GPU_DISPLAYIDS_VER1;
    ASSERT_EQ(NvAPI_GPU_GetConnectedDisplayIds(gpu, ids, &displays, 0), NVAPI_OK);
    EXPECT_EQ(ids[0].connectorType, NV_MONITOR_CONN_TYPE_HDMI);
    EXPECT_NE(ids[1].flags & NV_GPU_DISPLAYIDS_FLAG_CONNECTED, 0u);

    CoolerStatusRecord cooler{};
    cooler.version = kCoolerStatusVersions[0];
    ASSERT_EQ(QueryCoolerStatus(gpu, 0, &cooler), NVAPI_OK);
    EXPECT_EQ(cooler.coolerCount, 1u);
    EXPECT_EQ(cooler.currentLevel, 45u);
    EXPECT_EQ(cooler.currentRpm, 1650u);
    EXPECT_NE(cooler.rpmValid, 0);
    EXPECT_EQ(QueryCoolerStatus(gpu, 3, &cooler), NVAPI_INVALID_ARGUMENT); // index passed on

    VoltageStatusRecord voltage{};
    voltage.version = kVoltageStatusVersion;
    ASSERT_EQ(QueryVoltageStatus(gpu, &voltage), NVAPI_OK);
    EXPECT_EQ(voltage.value_uV, 912000u);
    EXPECT_EQ(gNvapiBinding.busyCount.load(), 0);
}

// Fresh binding state: a set unloading flag keeps a call at the gate for ten
// waits, and the call never touches the driver.
TEST(BindingGate, ACallGivesUpWhenTheFlagStaysSet) {
    static NvapiBinding fresh;
    fresh.unloading.store(1);
    auto start = std::chrono::steady_clock::now();
    uint32_t bus = 0;
    EXPECT_EQ(forwardCall(fresh, kEntryGetBusId, static_cast<NvPhysicalGpuHandle>(nullptr), &bus),
              NVAPI_ERROR);
    EXPECT_GE(msSince(start), 950);
    EXPECT_EQ(fresh.busyCount.load(), 0);
    EXPECT_EQ(fresh.library.load(), nullptr);
    EXPECT_EQ(fresh.generation.load(), 0u);
}

// Entries on several threads against repeated unloads: every call either runs
// in a bound driver or is turned away, and the busy count ends exact.
TEST_F(BindingTest, EntriesAndUnloadsOnSeveralThreads) {
    useScenario("gpu 0 bus 9\n");
    ASSERT_EQ(NvAPI_Initialize(), NVAPI_OK);
    std::atomic<bool> stop{false};
    std::atomic<int> ok{0}, refused{0}, wrong{0};
    std::vector<std::thread> callers;
    for (int t = 0; t < 4; ++t) {
        callers.emplace_back([&] {
            while (!stop.load()) {
                NvPhysicalGpuHandle handles[NVAPI_MAX_PHYSICAL_GPUS] = {};
                uint32_t count = 0, bus = 0;
                NvAPI_Status status = NvAPI_EnumPhysicalGPUs(handles, &count);
                if (status == NVAPI_OK)
                    status = NvAPI_GPU_GetBusId(handles[0], &bus);
                if (status == NVAPI_OK && bus == 9)
                    ok.fetch_add(1);
                else if (status == NVAPI_ERROR)
                    refused.fetch_add(1);
                else
                    wrong.fetch_add(1);
                Sleep(2); // room for unloads between calls
            }
        });
    }
    int unloaded = 0, declined = 0;
    auto start = std::chrono::steady_clock::now();
    while (msSince(start) < 2500) {
        NvAPI_Status status = NvAPI_Unload();
        if (status == NVAPI_OK)
            ++unloaded;
        else if (status == NVAPI_ERROR || status == NVAPI_API_NOT_INITIALIZED)
            ++declined;
        Sleep(3);
    }
    stop.store(true);
    for (std::thread& t : callers)
        t.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_GT(ok.load(), 0);
    EXPECT_GT(unloaded, 0);
    EXPECT_EQ(gNvapiBinding.busyCount.load(), 0);
    EXPECT_EQ(gNvapiBinding.unloading.load(), 0);
    std::printf("calls ok %d, turned away %d; unloads %d, declined %d\n", ok.load(), refused.load(), unloaded,
                declined);
}

// Figures, not a check of speed: the cost of a forwarded call against calling the
// driver function directly.
TEST_F(BindingTest, ForwardedCallCostFigures) {
    useScenario("hooks none\n");
    NvPhysicalGpuHandle gpu = firstGpu();
    HMODULE driver = GetModuleHandleW(systemNvapiPath().c_str());
    ASSERT_NE(driver, nullptr);
    auto query = reinterpret_cast<NvAPI_QueryInterfaceFn>(
        reinterpret_cast<void*>(GetProcAddress(driver, "nvapi_QueryInterface")));
    using BusIdFn = NvAPI_Status(NVAPI_CALL*)(NvPhysicalGpuHandle, uint32_t*);
    auto direct = reinterpret_cast<BusIdFn>(query(nvapi_id::NvAPI_GPU_GetBusId));
    constexpr int kCalls = 20000;
    uint32_t bus = 0;
    int failures = 0;
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kCalls; ++i)
        failures += direct(gpu, &bus) != NVAPI_OK;
    auto directNs =
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - start);
    start = std::chrono::steady_clock::now();
    for (int i = 0; i < kCalls; ++i)
        failures += NvAPI_GPU_GetBusId(gpu, &bus) != NVAPI_OK;
    auto boundNs =
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - start);
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(systemNvapiCount("lookup:NvAPI_GPU_GetBusId"), 2u); // ours above, and the layer's once
    std::printf("direct driver call %.0f ns, through the binding layer %.0f ns\n",
                static_cast<double>(directNs.count()) / kCalls,
                static_cast<double>(boundNs.count()) / kCalls);
}

// Re-binds back and forth between the two copies of the driver while threads
// call the entries. Calls in progress during a re-bind may finish in the copy
// that was replaced; once the calls have stopped, none may reach it.
namespace {
// The copy "in the system directory" now. A thread binds the copy it found,
// so that a thread which found the copy just replaced binds that one back.
std::atomic<HMODULE> rebindTarget{nullptr};
thread_local HMODULE rebindFound = nullptr;

HMODULE findRebindTarget() {
    rebindFound = rebindTarget.load();
    return rebindFound;
}
HMODULE loadRebindTarget() {
    HMODULE module = nullptr; // a reference of the layer's own, as a load gives
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(rebindFound),
                       &module);
    return module;
}

const NvapiEntry kStressEntries[] = {
    kEntryGetFullName,      kEntryGetBusId,      kEntryGetAllClockFrequencies,     kEntryGetPstates20,
    kEntryGetCurrentPstate, kEntryGetMemoryInfo, kEntryGetPhysicalFrameBufferSize, kEntryQueryVoltageStatus};

// Each entry with a null GPU: the driver counts the call and turns it away.
void callEveryEntry(NvapiBinding& binding) {
    for (NvapiEntry entry : kStressEntries)
        forwardCall(binding, entry, static_cast<NvPhysicalGpuHandle>(nullptr), static_cast<void*>(nullptr));
}

uint32_t entryCalls(HMODULE copy) {
    uint32_t total = 0;
    for (NvapiEntry entry : kStressEntries) {
        char id[16];
        std::snprintf(id, sizeof id, "0x%08X", kNvapiEntryIds[entry]);
        total += simCount(copy, id);
    }
    return total;
}
} // namespace

TEST(BindingRebind, NoEntryKeepsCallingAReplacedDriver) {
    useScenario("hooks none\n");
    const HMODULE copies[2] = {LoadLibraryW(systemNvapiPath().c_str()), LoadLibraryW(altNvapiPath().c_str())};
    static NvapiBinding binding;
    binding.findLoadedLibrary = findRebindTarget;
    binding.loadLibrary = loadRebindTarget;
    binding.lookupPause = [] { Sleep(1); }; // room for a re-bind
    std::atomic<int> calls{0};
    uint32_t rebinds = 0, callsAfterwards = 0, intoReplaced = 0;
    for (int round = 0; copies[0] && copies[1] && round < 200; ++round) {
        rebindTarget.store(copies[round & 1]);
        callEveryEntry(binding);
        uint32_t generation = binding.generation.load();
        std::atomic<bool> stop{false};
        std::vector<std::thread> callers;
        for (int t = 0; t < 3; ++t) {
            callers.emplace_back([&] {
                while (!stop.load()) {
                    callEveryEntry(binding);
                    calls.fetch_add(static_cast<int>(std::size(kStressEntries)));
                    Sleep(0);
                }
            });
        }
        for (int k = 1; k <= 3; ++k) {
            rebindTarget.store(copies[(round + k) & 1]);
            callEveryEntry(binding); // binds that copy
            Sleep(k % 3);
        }
        stop.store(true);
        for (std::thread& t : callers)
            t.join();
        rebinds += binding.generation.load() - generation;
        // Calls from now on find the copy that is bound.
        HMODULE bound = binding.library.load();
        rebindTarget.store(bound);
        HMODULE replaced = bound == copies[0] ? copies[1] : copies[0];
        uint32_t before = entryCalls(replaced);
        callEveryEntry(binding);
        callsAfterwards += static_cast<uint32_t>(std::size(kStressEntries));
        intoReplaced += entryCalls(replaced) - before;
    }
    std::printf("calls %d, re-binds %u; afterwards %u calls, %u into a replaced copy\n", calls.load(),
                rebinds, callsAfterwards, intoReplaced);
    EXPECT_EQ(bindingUnload(binding), NVAPI_OK);
    for (HMODULE copy : copies) {
        for (int i = 0; copy && i < 100000 && FreeLibrary(copy); ++i) {
        }
    }
    clearScenario();
    ASSERT_TRUE(copies[0] && copies[1]) << "a copy of the driver is missing";
    EXPECT_GE(rebinds, 300u);
    EXPECT_EQ(intoReplaced, 0u);
    EXPECT_EQ(binding.busyCount.load(), 0);
}
