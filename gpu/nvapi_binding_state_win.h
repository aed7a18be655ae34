// State of the NvAPI binding layer. The public entries of nvapi_binding.h work
// on the process-wide instance; tests may drive a fresh one directly.
#pragma once
#include "gpu/module_identity.h"
#include "gpu/nvapi_calls.h"

#include <windows.h>

#include <atomic>

// The driver function an entry found, and the binding generation it looked it
// up at. The two are published as one pair: sequence is odd while a pair is
// being written, and a reader that sees it odd or changed takes the cache as
// empty, so a function is never paired with another binding's generation.
struct NvapiEntryCache {
    std::atomic<uint32_t> sequence{0};
    std::atomic<void*> function{nullptr};
    std::atomic<uint32_t> generation{0};
};

inline bool readEntryCache(const NvapiEntryCache& cache, void*& function, uint32_t& generation) {
    uint32_t sequence = cache.sequence.load();
    if (sequence & 1)
        return false;
    function = cache.function.load();
    generation = cache.generation.load();
    return cache.sequence.load() == sequence;
}

// Another thread writing at the same moment keeps its own pair; this one is dropped.
inline void writeEntryCache(NvapiEntryCache& cache, void* function, uint32_t generation) {
    uint32_t sequence = cache.sequence.load();
    if ((sequence & 1) || !cache.sequence.compare_exchange_strong(sequence, sequence + 1))
        return;
    cache.function.store(function);
    cache.generation.store(generation);
    cache.sequence.store(sequence + 2);
}

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
    NvapiEntryCache entries[kNvapiEntryCount];
    // Test seams, null in the programs. The first two replace how the driver is
    // found among the loaded modules and loaded from the system directory, so a
    // test can re-bind between copies of other identities; the third runs on an
    // entry's lookup path between its reads of the binding, where a re-bind can land.
    HMODULE (*findLoadedLibrary)() = nullptr;
    HMODULE (*loadLibrary)() = nullptr;
    void (*lookupPause)() = nullptr;
};

extern NvapiBinding gNvapiBinding; // the process-wide instance

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
    const int index = static_cast<int>(entry);
    const uint32_t id = kNvapiEntryIds[index];
    NvapiEntryCache& cache = binding.entries[index];
    void* function = nullptr;
    uint32_t cachedGeneration = 0;
    if (outcome == AcquireOutcome::BoundNow || !readEntryCache(cache, function, cachedGeneration) ||
        cachedGeneration != binding.generation.load())
        function = nullptr;
    if (!function && module) {
        // The generation before the query function: a re-bind publishes its query
        // function before it raises the generation, so the function found is of
        // this generation's binding or a newer one, never of an older one.
        uint32_t generation = binding.generation.load();
        if (binding.lookupPause)
            binding.lookupPause();
        if (NvAPI_QueryInterfaceFn query = binding.queryInterface.load()) {
            function = query(id);
            writeEntryCache(cache, function, generation);
        }
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
        entryHook(id, &cookie);
    using Function = NvAPI_Status(NVAPI_CALL*)(Args...);
    status = reinterpret_cast<Function>(function)(args...);
    if (hooks)
        exitHook(id, cookie, status);
    releaseBusy(binding);
    return status;
}
