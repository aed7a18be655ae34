#include "gpu/nvapi_binding.h"
#include "gpu/nvapi_binding_state_win.h"
#include "gpu/system_library_win.h"

NvapiBinding gNvapiBinding;

namespace {
constexpr char kLibraryName[] = "nvapi64.dll";

BOOL CALLBACK createLock(PINIT_ONCE, PVOID parameter, PVOID*) {
    InitializeCriticalSection(static_cast<CRITICAL_SECTION*>(parameter));
    return TRUE;
}

void ensureLock(NvapiBinding& binding) {
    InitOnceExecuteOnce(&binding.lockOnce, createLock, &binding.lock, nullptr);
}

HMODULE findLoaded(const NvapiBinding& binding) {
    return binding.findLoadedLibrary ? binding.findLoadedLibrary() : GetModuleHandleA(kLibraryName);
}

HMODULE loadFromSystem(const NvapiBinding& binding) {
    return binding.loadLibrary ? binding.loadLibrary() : LoadSystemLibraryA(kLibraryName, 0);
}

struct LockGuard {
    CRITICAL_SECTION& lock;
    explicit LockGuard(CRITICAL_SECTION& l) : lock(l) { EnterCriticalSection(&lock); }
    ~LockGuard() { LeaveCriticalSection(&lock); }
};

ModuleIdentity identityOf(HMODULE module) {
    // The headers of a mapped module lie in its first page; the handle is its address.
    ModuleIdentity identity;
    readModuleIdentity(reinterpret_cast<const uint8_t*>(module), 4096, identity);
    return identity;
}

// Identity of a module that other code may release at any moment: pinned by a
// reference of our own while its headers are read. A module already gone reads
// as 0 and 0.
ModuleIdentity pinnedIdentityOf(HMODULE module) {
    HMODULE pinned = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(module),
                            &pinned))
        return ModuleIdentity{};
    ModuleIdentity identity = identityOf(pinned);
    FreeLibrary(pinned);
    return identity;
}

void recordIdentity(NvapiBinding& binding, const ModuleIdentity& identity) {
    binding.identityCheckSum.store(identity.checkSum);
    binding.identityTimeDateStamp.store(identity.timeDateStamp);
}

// A module counts as the bound one only while the layer is bound at all: with
// nothing bound, a module whose CheckSum and TimeDateStamp are both 0 would
// otherwise match the empty record. The module the layer holds is unchanged
// without reading its headers.
bool moduleUnchanged(const NvapiBinding& binding, HMODULE module, ModuleIdentity& found) {
    if (!binding.queryInterface.load())
        return false;
    if (module == binding.library.load())
        return true;
    found = pinnedIdentityOf(module);
    ModuleIdentity recorded{binding.identityCheckSum.load(), binding.identityTimeDateStamp.load()};
    return sameModuleIdentity(recorded, found);
}

struct DriverBinding {
    NvAPI_QueryInterfaceFn queryInterface = nullptr;
    NvAPI_EntryHookFn entryHook = nullptr;
    NvAPI_ExitHookFn exitHook = nullptr;
};

// Binds into locals so that a failed bind never disturbs a binding other
// threads are calling through.
NvAPI_Status bindLibrary(HMODULE module, DriverBinding& bound) {
    auto query = reinterpret_cast<NvAPI_QueryInterfaceFn>(
        reinterpret_cast<void*>(GetProcAddress(module, "nvapi_QueryInterface")));
    if (!query)
        return NVAPI_ERROR;
    auto initialize = reinterpret_cast<NvAPI_VoidFn>(query(nvapi_id::NvAPI_Initialize));
    if (!initialize)
        return NVAPI_ERROR;
    NvAPI_Status status = initialize();
    if (status != NVAPI_OK)
        return status;
    bound.queryInterface = query;
    bound.entryHook = reinterpret_cast<NvAPI_EntryHookFn>(query(nvapi_id::EntryHook));
    bound.exitHook = reinterpret_cast<NvAPI_ExitHookFn>(query(nvapi_id::ExitHook));
    if (!bound.entryHook || !bound.exitHook) {
        bound.entryHook = nullptr;
        bound.exitHook = nullptr;
    }
    return NVAPI_OK;
}

// Caller holds the lock.
void publishBinding(NvapiBinding& binding, HMODULE module, const DriverBinding& bound) {
    HMODULE previous = binding.library.load();
    if (previous && previous != module) {
        if (binding.retiredCount < kRetiredLibraryCapacity)
            binding.retired[binding.retiredCount++] = previous;
        // beyond that the reference is kept for the life of the process
    }
    binding.entryHook.store(bound.entryHook);
    binding.exitHook.store(bound.exitHook);
    binding.queryInterface.store(bound.queryInterface);
    binding.library.store(module);
    recordIdentity(binding, identityOf(module));
    binding.generation.fetch_add(1); // last: entries read it before the query function
}

// Module not loaded in the process: load and bind it under the lock.
AcquireOutcome loadAndBind(NvapiBinding& binding, HMODULE& module, NvAPI_Status& status) {
    LockGuard guard(binding.lock);
    module = findLoaded(binding);
    if (module)
        return AcquireOutcome::AlreadyBound; // caller goes on to the identity test
    module = loadFromSystem(binding);
    if (!module) {
        releaseBusy(binding);
        status = NVAPI_LIBRARY_NOT_FOUND;
        return AcquireOutcome::Failed;
    }
    DriverBinding bound;
    status = bindLibrary(module, bound);
    if (status != NVAPI_OK) {
        releaseBusy(binding);
        FreeLibrary(module);
        module = nullptr;
        return AcquireOutcome::Failed;
    }
    publishBinding(binding, module, bound);
    return AcquireOutcome::BoundNow;
}

// The module found in the process is not the one bound: bind the system
// directory's copy again. Under the lock, so that two threads noticing the
// change at once bind once and no reference is lost.
AcquireOutcome rebindChanged(NvapiBinding& binding, HMODULE& module, NvAPI_Status& status) {
    LockGuard guard(binding.lock);
    ModuleIdentity found;
    if (moduleUnchanged(binding, module, found))
        return AcquireOutcome::AlreadyBound;
    // While bound, the found module's values go into the record at once; while
    // unbound the record stays 0 and 0 until a bind succeeds, so a failed bind
    // is tried again on the next call.
    if (binding.queryInterface.load())
        recordIdentity(binding, found);
    module = loadFromSystem(binding);
    if (!module) {
        releaseBusy(binding);
        status = NVAPI_LIBRARY_NOT_FOUND;
        return AcquireOutcome::Failed;
    }
    if (module == binding.library.load()) {
        // Other code holds a different copy under the same name; the bound
        // system-directory module is still in place. Keep it, and remember the
        // found copy so that it is not taken for a change again.
        FreeLibrary(module);
        return AcquireOutcome::AlreadyBound;
    }
    DriverBinding bound;
    status = bindLibrary(module, bound);
    if (status != NVAPI_OK) {
        releaseBusy(binding);
        FreeLibrary(module);
        module = nullptr;
        return AcquireOutcome::Failed;
    }
    publishBinding(binding, module, bound);
    return AcquireOutcome::BoundNow;
}
} // namespace

void releaseBusy(NvapiBinding& binding) {
    binding.busyCount.fetch_sub(1);
}

AcquireOutcome acquireLibrary(NvapiBinding& binding, HMODULE& module, NvAPI_Status& status) {
    ensureLock(binding);
    // Raise the count before testing the flag; NvAPI_Unload sets the flag before
    // testing the count, so one of the two always sees the other.
    for (int waits = 0;; ++waits) {
        binding.busyCount.fetch_add(1);
        if (binding.unloading.load() == 0)
            break;
        releaseBusy(binding);
        if (waits == kUnloadGateWaits) {
            module = nullptr;
            status = NVAPI_ERROR;
            return AcquireOutcome::Failed;
        }
        Sleep(kUnloadGateWaitMs);
    }
    module = findLoaded(binding);
    if (!module) {
        AcquireOutcome outcome = loadAndBind(binding, module, status);
        if (outcome != AcquireOutcome::AlreadyBound)
            return outcome;
    }
    ModuleIdentity found;
    if (moduleUnchanged(binding, module, found))
        return AcquireOutcome::AlreadyBound;
    return rebindChanged(binding, module, status);
}

NvAPI_Status bindingInitialize(NvapiBinding& binding) {
    HMODULE module = nullptr;
    NvAPI_Status status = NVAPI_ERROR;
    if (acquireLibrary(binding, module, status) == AcquireOutcome::Failed)
        return status;
    releaseBusy(binding);
    return NVAPI_OK;
}

NvAPI_Status bindingUnload(NvapiBinding& binding) {
    ensureLock(binding);
    binding.unloading.fetch_add(1);
    NvAPI_Status result = NVAPI_OK;
    {
        LockGuard guard(binding.lock); // one unload at a time
        NvAPI_QueryInterfaceFn query = binding.queryInterface.load();
        HMODULE library = binding.library.load();
        if (!library || !query) {
            result = NVAPI_API_NOT_INITIALIZED;
        } else if (binding.busyCount.load() != 0) {
            result = NVAPI_ERROR;
        } else if (auto unload = reinterpret_cast<NvAPI_VoidFn>(query(nvapi_id::NvAPI_Unload)); !unload) {
            result = NVAPI_NO_IMPLEMENTATION;
        } else if (unload() != NVAPI_OK) {
            result = NVAPI_ERROR;
        } else {
            binding.queryInterface.store(nullptr);
            binding.entryHook.store(nullptr);
            binding.exitHook.store(nullptr);
            FreeLibrary(library);
            binding.library.store(nullptr);
            for (int i = 0; i < binding.retiredCount; ++i)
                FreeLibrary(binding.retired[i]);
            binding.retiredCount = 0;
            recordIdentity(binding, ModuleIdentity{});
        }
    }
    binding.unloading.fetch_sub(1);
    return result;
}

NvAPI_Status NvAPI_Initialize() {
    return bindingInitialize(gNvapiBinding);
}
NvAPI_Status NvAPI_Unload() {
    return bindingUnload(gNvapiBinding);
}

#define GAUGELINE_NVAPI_FORWARD(entry, name, id, field, params, args)                                        \
    NvAPI_Status name params {                                                                               \
        return forwardCall(gNvapiBinding, NvapiEntry::entry, GAUGELINE_NVAPI_UNPACK args);                   \
    }
#define GAUGELINE_NVAPI_UNPACK(...) __VA_ARGS__
GAUGELINE_NVAPI_CALLS(GAUGELINE_NVAPI_FORWARD)
