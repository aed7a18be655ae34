// The binding layer against the simulated driver installed in the prefix's
// system directory. Each case names its own scenario before the driver loads.
#include "gpu/nvapi_binding.h"
#include "gpu/nvapi_binding_state_win.h"
#include "tests/support/sim_test_support_win.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
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
        clearScenario();
    }
    HMODULE hold(const std::wstring& path) {
        HMODULE module = LoadLibraryW(path.c_str());
        held.push_back(module);
        return module;
    }
    std::vector<HMODULE> held;
};

NvPhysicalGpuHandle firstGpu() {
    NvPhysicalGpuHandle handles[NVAPI_MAX_PHYSICAL_GPUS] = {};
    uint32_t count = 0;
    return NvAPI_EnumPhysicalGPUs(handles, &count) == NVAPI_OK && count > 0 ? handles[0] : nullptr;
}

template <typename... Params> NvAPI_Status callWithNulls(NvAPI_Status (*entry)(Params...)) {
    return entry(Params{}...);
}
} // namespace

// Every entry reaches its own driver function and passes the driver's status
// back unchanged: a null GPU or list is turned away with NVAPI_INVALID_ARGUMENT.
TEST_F(BindingTest, EveryEntryReachesItsDriverFunction) {
    useScenario("gpu 0 bus 5\n");
#define GAUGELINE_CALL_ENTRY(entry, name, ...)                                                               \
    EXPECT_EQ(callWithNulls(&name), NVAPI_INVALID_ARGUMENT) << #name;                                        \
    EXPECT_EQ(systemNvapiCount(#name), 1u) << #name;
    GAUGELINE_NVAPI_CALLS(GAUGELINE_CALL_ENTRY)
#undef GAUGELINE_CALL_ENTRY
}

// The driver is bound once and each function looked up once per binding; a
// function the driver lacks is looked up on every call. After an unload the
// next call binds again and looks every function up afresh. A copy of another
// identity, loaded elsewhere first under the same name, is never bound.
TEST_F(BindingTest, LookupsAreCachedPerBinding) {
    useScenario("gpu 0 bus 3\nomit NvAPI_GPU_GetFullName\n");
    HMODULE alt = hold(altNvapiPath());
    HMODULE kept = hold(systemNvapiPath()); // other code's reference, which keeps the counters
    ASSERT_EQ(GetModuleHandleA("nvapi64.dll"), alt);
    ASSERT_EQ(NvAPI_Initialize(), NVAPI_OK);
    ASSERT_EQ(NvAPI_Initialize(), NVAPI_OK);
    EXPECT_EQ(gNvapiBinding.library.load(), kept);
    uint32_t bus = 0;
    char name[NVAPI_SHORT_STRING_MAX];
    NvPhysicalGpuHandle gpu = firstGpu();
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(NvAPI_GPU_GetBusId(gpu, &bus), NVAPI_OK);
        EXPECT_EQ(NvAPI_GPU_GetFullName(gpu, name), NVAPI_NO_IMPLEMENTATION);
    }
    EXPECT_EQ(simCount(kept, "lookup:NvAPI_GPU_GetBusId"), 1u);
    EXPECT_EQ(simCount(kept, "lookup:NvAPI_GPU_GetFullName"), 2u);
    ASSERT_EQ(NvAPI_Unload(), NVAPI_OK);
    EXPECT_TRUE(systemNvapiLoaded()); // the layer released only its own reference
    EXPECT_EQ(NvAPI_GPU_GetBusId(gpu, &bus), NVAPI_OK);
    EXPECT_EQ(bus, 3u);
    EXPECT_EQ(simCount(kept, "NvAPI_Initialize"), 2u);
    EXPECT_EQ(simCount(kept, "lookup:NvAPI_GPU_GetBusId"), 2u);
    EXPECT_EQ(simCount(alt, "NvAPI_Initialize") + simCount(alt, "NvAPI_GPU_GetBusId"), 0u);
}

// A failed bind releases the driver and is tried again by the next call (the
// driver kept loaded by other code counts its passes on); a refused unload
// leaves the layer bound. The driver's hooks are called around each call that
// reaches it, only when both are offered.
TEST_F(BindingTest, FailedBindsRefusedUnloadsAndHooks) {
    struct Case {
        const char* scenario;
        NvAPI_Status bind, nextCall, unload;
        uint32_t hookCalls;
        bool held = false;
    };
    const Case cases[] = {
        {"omit nvapi_QueryInterface\n", NVAPI_ERROR, NVAPI_ERROR, NVAPI_API_NOT_INITIALIZED, 0},
        {"omit NvAPI_Initialize\n", NVAPI_ERROR, NVAPI_ERROR, NVAPI_API_NOT_INITIALIZED, 0},
        {"fail NvAPI_Initialize status 5\n", 5, 5, NVAPI_API_NOT_INITIALIZED, 0},
        {"omit NvAPI_Unload\n", NVAPI_OK, NVAPI_OK, NVAPI_NO_IMPLEMENTATION, 2},
        // The driver's status is not passed on.
        {"fail NvAPI_Unload status -5\n", NVAPI_OK, NVAPI_OK, NVAPI_ERROR, 2},
        {"hooks entry\n", NVAPI_OK, NVAPI_OK, NVAPI_OK, 0},
        {"hooks exit\n", NVAPI_OK, NVAPI_OK, NVAPI_OK, 0},
        // Last: the driver stays held by other code.
        {"fail NvAPI_Initialize until 1 status -6\n", NVAPI_NVIDIA_DEVICE_NOT_FOUND, NVAPI_OK, NVAPI_OK, 2,
         true},
    };
    for (const Case& c : cases) {
        useScenario(c.scenario);
        if (c.held)
            hold(systemNvapiPath());
        EXPECT_EQ(NvAPI_Initialize(), c.bind) << c.scenario;
        EXPECT_EQ(systemNvapiLoaded(), c.bind == NVAPI_OK || c.held) << c.scenario;
        uint32_t bus;
        EXPECT_EQ(NvAPI_GPU_GetBusId(firstGpu(), &bus), c.nextCall) << c.scenario;
        EXPECT_EQ(systemNvapiCount("EntryHook") + systemNvapiCount("ExitHook"), 2 * c.hookCalls)
            << c.scenario;
        EXPECT_EQ(systemNvapiCount("hook.badcookie"), 0u);
        EXPECT_EQ(NvAPI_Unload(), c.unload) << c.scenario;
        EXPECT_EQ(gNvapiBinding.queryInterface.load() != nullptr,
                  c.unload != NVAPI_OK && c.unload != NVAPI_API_NOT_INITIALIZED);
        EXPECT_EQ(gNvapiBinding.busyCount.load(), 0);
        useScenario(""); // lets a refused unload through
        NvAPI_Unload();
        EXPECT_EQ(systemNvapiLoaded(), c.held) << c.scenario;
    }
}

TEST_F(BindingTest, UnloadWhileAnotherThreadIsInsideACallIsRefused) {
    useScenario("gpu 0 name Slow\ndelay GetFullName 800\n");
    NvPhysicalGpuHandle gpu = firstGpu();
    NvAPI_Status callStatus = NVAPI_ERROR;
    char name[NVAPI_SHORT_STRING_MAX] = {};
    std::thread caller([&] { callStatus = NvAPI_GPU_GetFullName(gpu, name); });
    for (int i = 0; i < 2000 && systemNvapiCount("NvAPI_GPU_GetFullName") == 0; ++i)
        Sleep(5);
    EXPECT_EQ(NvAPI_Unload(), NVAPI_ERROR);
    caller.join();
    EXPECT_EQ(callStatus, NVAPI_OK);
    EXPECT_STREQ(name, "Slow");
    EXPECT_EQ(systemNvapiCount("NvAPI_Unload"), 0u); // the driver's unload never ran
    EXPECT_EQ(gNvapiBinding.busyCount.load(), 0);
}

// Fresh binding state: a set unloading flag keeps a call at the gate for ten
// waits, and the call never touches the driver.
TEST(BindingGate, ACallGivesUpWhenTheFlagStaysSet) {
    static NvapiBinding fresh;
    fresh.unloading.store(1);
    auto start = std::chrono::steady_clock::now();
    uint32_t bus = 0;
    EXPECT_EQ(forwardCall(fresh, NvapiEntry::GetBusId, static_cast<NvPhysicalGpuHandle>(nullptr), &bus),
              NVAPI_ERROR);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(950));
    EXPECT_EQ(fresh.busyCount.load(), 0);
    EXPECT_EQ(fresh.library.load(), nullptr);
}

// Re-binds back and forth between the two copies of the driver while threads
// call the entries. Calls in progress during a re-bind may finish in the copy
// that was replaced; once the calls have stopped, none may reach it.
namespace {
// The copy "in the system directory" now. A thread binds the copy it found,
// so that a thread which found the copy just replaced binds that one back.
std::atomic<HMODULE> gRebindTarget{nullptr};
thread_local HMODULE gRebindFound = nullptr;

const std::pair<NvapiEntry, const char*> kStressEntries[] = {
    {NvapiEntry::GetFullName, "GetFullName"},
    {NvapiEntry::GetBusId, "GetBusId"},
    {NvapiEntry::GetPstates20, "GetPstates20"},
    {NvapiEntry::GetMemoryInfo, "GetMemoryInfo"},
    {NvapiEntry::QueryVoltageStatus, "QueryVoltageStatus"}};

// Each entry with a null GPU: the driver counts the call and turns it away.
void callEveryEntry(NvapiBinding& binding) {
    for (const auto& [entry, name] : kStressEntries)
        forwardCall(binding, entry, static_cast<NvPhysicalGpuHandle>(nullptr), static_cast<void*>(nullptr));
}

uint32_t entryCalls(HMODULE copy) {
    uint32_t total = 0;
    for (const auto& [entry, name] : kStressEntries)
        total += simCount(copy, name);
    return total;
}
} // namespace

TEST(BindingRebind, NoEntryKeepsCallingAReplacedDriver) {
    useScenario("hooks none\n");
    const HMODULE copies[2] = {LoadLibraryW(systemNvapiPath().c_str()), LoadLibraryW(altNvapiPath().c_str())};
    ASSERT_TRUE(copies[0] && copies[1]) << "a copy of the driver is missing";
    static NvapiBinding binding;
    binding.findLoadedLibrary = [] { return gRebindFound = gRebindTarget.load(); };
    binding.loadLibrary = [] {
        HMODULE module = nullptr; // a reference of the layer's own, as a load gives
        GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(gRebindFound),
                           &module);
        return module;
    };
    binding.lookupPause = [] { Sleep(1); }; // room for a re-bind
    uint32_t rebinds = 0, intoReplaced = 0;
    for (int round = 0; round < 200; ++round) {
        gRebindTarget.store(copies[round & 1]);
        callEveryEntry(binding);
        uint32_t generation = binding.generation.load();
        std::atomic<bool> stop{false};
        std::vector<std::thread> callers;
        for (int t = 0; t < 3; ++t) {
            callers.emplace_back([&] {
                while (!stop.load())
                    callEveryEntry(binding);
            });
        }
        for (int k = 1; k <= 3; ++k) {
            gRebindTarget.store(copies[(round + k) & 1]);
            callEveryEntry(binding); // binds that copy
            Sleep(k % 3);
        }
        stop.store(true);
        for (std::thread& t : callers)
            t.join();
        rebinds += binding.generation.load() - generation;
        // Calls from now on find the copy that is bound.
        HMODULE bound = binding.library.load();
        gRebindTarget.store(bound);
        HMODULE replaced = bound == copies[0] ? copies[1] : copies[0];
        uint32_t before = entryCalls(replaced);
        callEveryEntry(binding);
        intoReplaced += entryCalls(replaced) - before;
    }
    EXPECT_EQ(bindingUnload(binding), NVAPI_OK);
    for (HMODULE copy : copies) {
        for (int i = 0; i < 100000 && FreeLibrary(copy); ++i) {
        }
    }
    clearScenario();
    EXPECT_GE(rebinds, 300u);
    EXPECT_EQ(intoReplaced, 0u);
    EXPECT_EQ(binding.busyCount.load(), 0);
}
