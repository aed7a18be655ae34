// The Windows side of the simulated driver DLLs: hiding exports the scenario omits.
#pragma once
#include "sim/sim_runtime.h"

#include <windows.h>

// Makes GetProcAddress find nothing for an export of this module.
bool hideExport(HMODULE module, const char* name);
// Hides every export the scenario omits that this module carries.
void hideOmittedExports(HMODULE module, const SimRuntime& runtime, bool nvml);
