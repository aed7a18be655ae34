#include "agent/driver_table_win.h"

#include "gpu/nvapi_binding.h"
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

NvAPI_Status getFullName(NvPhysicalGpuHandle handle, char* name) {
    return NvAPI_GPU_GetFullName(handle, name);
}

} // namespace

bool loadNvmlFrom(const wchar_t* fixedPath, const char* systemName, NvmlApi* api) {
    *api = NvmlApi{};
    HMODULE module = fixedPath ? LoadLibraryW(fixedPath) : nullptr;
    if (!module && systemName)
        module = LoadSystemLibraryA(systemName, 0);
    if (!module)
        return false;
    api->init = lookup<nvmlInitFn>(module, "nvmlInit");
    api->getHandleByIndex = lookup<nvmlDeviceGetHandleByIndexFn>(module, "nvmlDeviceGetHandleByIndex");
    api->getMemoryInfo = lookup<nvmlDeviceGetMemoryInfoFn>(module, "nvmlDeviceGetMemoryInfo");
    api->getPowerUsage = lookup<nvmlDeviceGetUintFn>(module, "nvmlDeviceGetPowerUsage");
    api->getPowerManagementLimit = lookup<nvmlDeviceGetUintFn>(module, "nvmlDeviceGetPowerManagementLimit");
    api->getPciInfo = lookup<nvmlDeviceGetPciInfoFn>(module, "nvmlDeviceGetPciInfo");
    api->getDriverModel = lookup<nvmlDeviceGetDriverModelFn>(module, "nvmlDeviceGetDriverModel");
    return true;
}

const DriverTable& windowsDriverTable() {
    static const DriverTable table = [] {
        DriverTable t;
        t.initialize = NvAPI_Initialize;
        t.enumPhysicalGpus = NvAPI_EnumPhysicalGPUs;
        t.enumTccPhysicalGpus = NvAPI_EnumTCCPhysicalGPUs;
        t.getFullName = getFullName;
        t.getBusId = NvAPI_GPU_GetBusId;
        t.getAllClockFrequencies = NvAPI_GPU_GetAllClockFrequencies;
        t.getPstates20 = NvAPI_GPU_GetPstates20;
        t.getCurrentPstate = NvAPI_GPU_GetCurrentPstate;
        t.getDynamicPstatesInfoEx = NvAPI_GPU_GetDynamicPstatesInfoEx;
        t.getThermalSettings = NvAPI_GPU_GetThermalSettings;
        t.getMemoryInfo = NvAPI_GPU_GetMemoryInfo;
        t.getPhysicalFrameBufferSize = NvAPI_GPU_GetPhysicalFrameBufferSize;
        t.getConnectedDisplayIds = NvAPI_GPU_GetConnectedDisplayIds;
        t.queryCoolerStatus = QueryCoolerStatus;
        t.queryVoltageStatus = QueryVoltageStatus;
        t.directQueryInterface = directQueryInterface;
        t.loadNvml = loadNvml;
        t.sleepMs = sleepMs;
        return t;
    }();
    return table;
}
