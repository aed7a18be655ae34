// NVIDIA's management library loaded at run time, so that the program needs
// neither the library nor its headers to build, and says so when it is missing.
#pragma once

// dlopen of "libnvidia-ml.so.1"; null on failure with the loader's text in
// error (always terminated).
void* openNvmlLibrary(char* error, int errorSize);
// dlsym; fits bindNvmlSource's lookup.
void* lookupNvmlExport(void* library, const char* name);
void closeNvmlLibrary(void* library);
