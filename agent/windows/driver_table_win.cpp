#include "agent/windows/driver_table_win.h"

#include "gpu/nvapi_binding.h"
#include "gpu/nvml_library.h"
#include "gpu/system_library_win.h"

#include <windows.h>

namespace {

template <typename F> F lookup(HMODULE module, const char* name) {
    return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

NvAPI_QueryInterfaceFn directQueryInterface() {
    // Loaded again for every use and never released: Windows hands back the
    // module that is already loaded.
    HMODULE module = LoadSystemLibraryA("nvapi64.dll", 0);
    if (!module)
        return nullptr;
    return lookup<NvAPI_QueryInterfaceFn>(module, "nvapi_QueryInterface");
}

bool loadNvml(NvmlApi* api) {
    return loadNvmlFrom(kNvmlFixedPath, kNvmlSystemName, api);
}

void sleepMs(int ms) {
    Sleep(static_cast<DWORD>(ms));
}

} // namespace

bool loadNvmlFrom(const wchar_t* fixedPath, const char* systemName, NvmlApi* api) {
    *api = NvmlApi{};
    void* library = openNvmlLibrary(fixedPath, systemName);
    if (!library)
        return false;
    bindNvml(api, lookupNvmlExport, library, NvmlGeneration::Oldest);
    return true;
}

const DriverTable& windowsDriverTable() {
    static const DriverTable table = [] {
        DriverTable t;
        t.initialize = NvAPI_Initialize;
#define GAUGELINE_DRIVER_ENTRY(entry, name, id, field, params, args) t.field = name;
        GAUGELINE_NVAPI_CALLS(GAUGELINE_DRIVER_ENTRY)
#undef GAUGELINE_DRIVER_ENTRY
        t.directQueryInterface = directQueryInterface;
        t.loadNvml = loadNvml;
        t.sleepMs = sleepMs;
        return t;
    }();
    return table;
}
