// nvml.dll: the portable answers (nvml_sim.cpp) load their scenario when the
// DLL is loaded and hide the exports it omits.
#include "sim/sim_runtime_win.h"

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        loadSimScenario(gSimRuntime);
        hideOmittedExports(instance, gSimRuntime, true);
    }
    return TRUE;
}
