// The driver table of the real program: the NvAPI binding layer, nvapi64.dll's
// own export for the direct lookup, and NVML looked up by name.
#pragma once
#include "agent/windows/driver_table.h"

// Where the NVIDIA installer puts NVML on older drivers; newer ones put it in
// the system directory, which is tried second.
constexpr const wchar_t* kNvmlFixedPath = L"C:/Program Files/NVIDIA Corporation/NVSMI/nvml.dll";
constexpr const char* kNvmlSystemName = "nvml.dll";

const DriverTable& windowsDriverTable();

// Loads NVML from fixedPath, else systemName from the system directory, and
// binds the older export of each call. False when neither loads. The module is
// never released.
bool loadNvmlFrom(const wchar_t* fixedPath, const char* systemName, NvmlApi* api);
