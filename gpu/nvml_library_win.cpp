#include "gpu/nvml_library.h"

#include "gpu/system_library_win.h"

#include <windows.h>

void* openNvmlLibrary(const wchar_t* fixedPath, const char* systemName) {
    HMODULE module = fixedPath ? LoadLibraryW(fixedPath) : nullptr;
    if (!module && systemName)
        module = LoadSystemLibraryA(systemName, 0);
    return module;
}

void* lookupNvmlExport(void* library, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}
