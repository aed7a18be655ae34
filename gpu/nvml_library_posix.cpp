#include "gpu/nvml_library.h"

#include <cstdio>
#include <dlfcn.h>

void* openNvmlLibrary(char* error, int errorSize) {
    void* library = dlopen("libnvidia-ml.so.1", RTLD_NOW | RTLD_LOCAL);
    if (!library && errorSize > 0) {
        const char* text = dlerror();
        std::snprintf(error, static_cast<size_t>(errorSize), "%s", text ? text : "unknown error");
    }
    return library;
}

void* lookupNvmlExport(void* library, const char* name) {
    return dlsym(library, name);
}

void closeNvmlLibrary(void* library) {
    if (library)
        dlclose(library);
}
