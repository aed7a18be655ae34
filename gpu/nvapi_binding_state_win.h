// State of the NvAPI binding layer. The public entries of nvapi_binding.h work
// on the process-wide instance; tests may drive a fresh one directly.
#pragma once
#include "gpu/driver_records.h"
#include "gpu/module_identity.h"

#include <windows.h>

#include <atomic>

enum NvapiEntry : int {
    kEntryEnumPhysicalGPUs,
    kEntryEnumTCCPhysicalGPUs,
    kEntryGetFullName,
    kEntryGetBusId,
    kEntryGetAllClockFrequencies,
    kEntryGetPstates20,
    kEntryGetCurrentPstate,
    kEntryGetDynamicPstatesInfoEx,
    kEntryGetThermalSettings,
    kEntryGetMemoryInfo,
    kEntryGetPhysicalFrameBufferSize,
    kEntryGetConnectedDisplayIds,
    kEntryQueryCoolerStatus,
    kEntryQueryVoltageStatus,
    kEntryCount
};
extern const uint32_t kNvapiEntryIds[kEntryCount];

// The driver function an entry found, and the binding generation it found it at.
struct NvapiEntryCache {
    std::atomic<void*> function{nullptr};
    std::atomic<uint32_t> generation{0};
};

constexpr int kRetiredLibraryCapacity = 4;
constexpr int kUnloadGateWaits = 10;
constexpr DWORD kUnloadGateWaitMs = 100;

struct NvapiBinding {
    INIT_ONCE lockOnce = INIT_ONCE_STATIC_INIT;
    CRITICAL_SECTION lock{}; // guards loading, binding and releasing; never deleted
    std::atomic<HMODULE> library{nullptr};
    std::atomic<NvAPI_QueryInterfaceFn> queryInterface{nullptr};
    std::atomic<NvAPI_EntryHookFn> entryHook{nullptr};
    std::atomic<NvAPI_ExitHookFn> exitHook{nullptr};
    std::atomic<int32_t> busyCount{0};
    std::atomic<int32_t> unloading{0}; // unloads in progress
    std::atomic<uint32_t> identityCheckSum{0};
    std::atomic<uint32_t> identityTimeDateStamp{0};
    std::atomic<uint32_t> generation{0};
    // Modules replaced by a re-bind while calls may still run in them; released
    // by the next unload, when no call is in progress. Written under the lock.
    HMODULE retired[kRetiredLibraryCapacity] = {};
    int retiredCount = 0;
    NvapiEntryCache entries[kEntryCount];
};

extern NvapiBinding nvapiBinding; // the process-wide instance

enum class AcquireOutcome { AlreadyBound, BoundNow, Failed };

// Passes the unload gate, raises the busy count and makes sure a module is bound.
// On AlreadyBound and BoundNow one busy hold is left for the caller to release;
// on Failed none is, and status says why.
AcquireOutcome acquireLibrary(NvapiBinding& binding, HMODULE& module, NvAPI_Status& status);
void releaseBusy(NvapiBinding& binding);
NvAPI_Status bindingInitialize(NvapiBinding& binding);
NvAPI_Status bindingUnload(NvapiBinding& binding);

// One entry call: bind on demand, look the function up once per generation,
// call it between the driver's hooks.
template <typename... Args> NvAPI_Status forwardCall(NvapiBinding& binding, NvapiEntry entry, Args... args) {
    HMODULE module = nullptr;
    NvAPI_Status status = NVAPI_ERROR;
    AcquireOutcome outcome = acquireLibrary(binding, module, status);
    if (outcome == AcquireOutcome::Failed)
        return status;
    NvapiEntryCache& cache = binding.entries[entry];
    uint32_t cachedGeneration = cache.generation.load();
    void* function = cache.function.load();
    if (outcome == AcquireOutcome::BoundNow || cachedGeneration != binding.generation.load())
        function = nullptr;
    NvAPI_QueryInterfaceFn query = binding.queryInterface.load();
    if (!function && module && query) {
        uint32_t generation = binding.generation.load();
        function = query(kNvapiEntryIds[entry]);
        cache.function.store(function);
        cache.generation.store(generation);
    }
    if (!function) {
        releaseBusy(binding);
        return NVAPI_NO_IMPLEMENTATION;
    }
    NvAPI_EntryHookFn entryHook = binding.entryHook.load();
    NvAPI_ExitHookFn exitHook = binding.exitHook.load();
    bool hooks = entryHook && exitHook;
    uint64_t cookie = 0;
    if (hooks)
        entryHook(kNvapiEntryIds[entry], &cookie);
    using Function = NvAPI_Status(NVAPI_CALL*)(Args...);
    status = reinterpret_cast<Function>(function)(args...);
    if (hooks)
        exitHook(kNvapiEntryIds[entry], cookie, status);
    releaseBusy(binding);
    return status;
}
