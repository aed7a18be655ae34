// NVIDIA's management library loaded at run time, so that the programs need
// neither the library nor its headers to build, and say so when it is missing.
#pragma once
#include "gpu/nvml_calls.h"

#ifdef _WIN32
// LoadLibraryW of fixedPath, else systemName from the system directory; null
// when neither loads. The module is never released.
void* openNvmlLibrary(const wchar_t* fixedPath, const char* systemName);
#else
// dlopen of "libnvidia-ml.so.1"; null on failure with the loader's text in
// error (always terminated).
void* openNvmlLibrary(char* error, int errorSize);
void closeNvmlLibrary(void* library);
#endif

// GetProcAddress or dlsym; fits bindNvml's lookup.
void* lookupNvmlExport(void* library, const char* name);
