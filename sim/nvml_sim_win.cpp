// Simulated nvml.dll: the NVML functions the Agent calls, driven by the scenario.
#include "gpu/driver_records.h"
#include "sim/sim_runtime_win.h"

#include <cstdio>
#include <cstring>

#define SIM_EXPORT extern "C" __declspec(dllexport)

namespace {
char deviceTokens[kSimMaxGpus];
std::atomic<int32_t> initCount{0};

// NVML numbers devices by PCI bus, which need not be the Agent's slot order.
const SimGpu* gpuAt(size_t index) {
    std::vector<int> order = nvmlGpuOrder(simRuntime.scenario);
    return index < order.size() ? &simRuntime.scenario.gpus[static_cast<size_t>(order[index])] : nullptr;
}

const SimGpu* gpuOf(nvmlDevice_t device) {
    auto* p = reinterpret_cast<char*>(device);
    if (p < deviceTokens || p >= deviceTokens + kSimMaxGpus)
        return nullptr;
    return gpuAt(static_cast<size_t>(p - deviceTokens));
}

// Counting, delay, fail rules, initialisation and device checks.
nvmlReturn_t beginDeviceCall(int function, nvmlDevice_t device, const SimGpu*& gpu) {
    gpu = gpuOf(device);
    int32_t status;
    if (simCallFails(simRuntime, function, gpu ? gpu->index : -1, -1, status))
        return status;
    if (initCount.load() <= 0)
        return NVML_ERROR_UNINITIALIZED;
    return gpu ? NVML_SUCCESS : NVML_ERROR_INVALID_ARGUMENT;
}

uint32_t reading(const SimGpu& gpu, int which) {
    return static_cast<uint32_t>(readingValue(gpu.readings[which], simSeconds(simRuntime), 0, UINT32_MAX));
}

nvmlReturn_t init(int function) {
    int32_t status;
    if (simCallFails(simRuntime, function, -1, -1, status))
        return status;
    initCount.fetch_add(1);
    return NVML_SUCCESS;
}

nvmlReturn_t deviceCount(int function, uint32_t* count) {
    int32_t status;
    if (simCallFails(simRuntime, function, -1, -1, status))
        return status;
    if (initCount.load() <= 0)
        return NVML_ERROR_UNINITIALIZED;
    if (!count)
        return NVML_ERROR_INVALID_ARGUMENT;
    *count = static_cast<uint32_t>(simRuntime.scenario.gpus.size());
    return NVML_SUCCESS;
}

nvmlReturn_t handleByIndex(int function, uint32_t index, nvmlDevice_t* device) {
    const SimGpu* gpu = gpuAt(index);
    int32_t status;
    if (simCallFails(simRuntime, function, gpu ? gpu->index : -1, -1, status))
        return status;
    if (initCount.load() <= 0)
        return NVML_ERROR_UNINITIALIZED;
    if (!gpu || !device)
        return NVML_ERROR_INVALID_ARGUMENT;
    *device = reinterpret_cast<nvmlDevice_t>(&deviceTokens[index]);
    return NVML_SUCCESS;
}

nvmlReturn_t pciInfo(int function, nvmlDevice_t device, nvmlPciInfo_t* pci, size_t bytes) {
    const SimGpu* gpu;
    nvmlReturn_t status = beginDeviceCall(function, device, gpu);
    if (status != NVML_SUCCESS)
        return status;
    if (!pci)
        return NVML_ERROR_INVALID_ARGUMENT;
    nvmlPciInfo_t built{};
    std::snprintf(built.busIdLegacy, sizeof built.busIdLegacy, "%04X:%02X:00.0", 0u, gpu->bus);
    built.domain = 0;
    built.bus = gpu->bus;
    built.device = 0;
    built.pciDeviceId = (0x2204u << 16) | 0x10DEu;
    built.pciSubSystemId = 0x00001043u + (static_cast<uint32_t>(gpu->index) << 16);
    std::snprintf(built.busId, sizeof built.busId, "%08X:%02X:00.0", 0u, gpu->bus);
    std::memcpy(pci, &built, bytes);
    return NVML_SUCCESS;
}

nvmlReturn_t driverModel(int function, nvmlDevice_t device, nvmlDriverModel_t* current,
                         nvmlDriverModel_t* pending) {
    const SimGpu* gpu;
    nvmlReturn_t status = beginDeviceCall(function, device, gpu);
    if (status != NVML_SUCCESS)
        return status;
    if (!current && !pending)
        return NVML_ERROR_INVALID_ARGUMENT;
    if (current)
        *current = gpuDriverModel(*gpu);
    if (pending)
        *pending = gpuDriverModel(*gpu);
    return NVML_SUCCESS;
}
} // namespace

SIM_EXPORT nvmlReturn_t nvmlInit() {
    return init(kSimNvmlInit);
}
SIM_EXPORT nvmlReturn_t nvmlInit_v2() {
    return init(kSimNvmlInitV2);
}
SIM_EXPORT nvmlReturn_t nvmlShutdown() {
    int32_t status;
    if (simCallFails(simRuntime, kSimNvmlShutdown, -1, -1, status))
        return status;
    if (initCount.load() <= 0)
        return NVML_ERROR_UNINITIALIZED;
    initCount.fetch_sub(1);
    return NVML_SUCCESS;
}
SIM_EXPORT nvmlReturn_t nvmlDeviceGetCount(uint32_t* count) {
    return deviceCount(kSimNvmlDeviceGetCount, count);
}
SIM_EXPORT nvmlReturn_t nvmlDeviceGetCount_v2(uint32_t* count) {
    return deviceCount(kSimNvmlDeviceGetCountV2, count);
}
SIM_EXPORT nvmlReturn_t nvmlDeviceGetHandleByIndex(uint32_t index, nvmlDevice_t* device) {
    return handleByIndex(kSimNvmlDeviceGetHandleByIndex, index, device);
}
SIM_EXPORT nvmlReturn_t nvmlDeviceGetHandleByIndex_v2(uint32_t index, nvmlDevice_t* device) {
    return handleByIndex(kSimNvmlDeviceGetHandleByIndexV2, index, device);
}
SIM_EXPORT nvmlReturn_t nvmlDeviceGetMemoryInfo(nvmlDevice_t device, nvmlMemory_t* memory) {
    const SimGpu* gpu;
    nvmlReturn_t status = beginDeviceCall(kSimNvmlDeviceGetMemoryInfo, device, gpu);
    if (status != NVML_SUCCESS)
        return status;
    if (!memory)
        return NVML_ERROR_INVALID_ARGUMENT;
    uint64_t total = uint64_t{reading(*gpu, kMemoryTotal)} * 1024;
    uint64_t used = uint64_t{reading(*gpu, kMemoryUsed)} * 1024;
    if (used > total)
        used = total;
    memory->total = total;
    memory->used = used;
    memory->free = total - used;
    return NVML_SUCCESS;
}
SIM_EXPORT nvmlReturn_t nvmlDeviceGetPowerUsage(nvmlDevice_t device, uint32_t* milliwatts) {
    const SimGpu* gpu;
    nvmlReturn_t status = beginDeviceCall(kSimNvmlDeviceGetPowerUsage, device, gpu);
    if (status != NVML_SUCCESS)
        return status;
    if (!milliwatts)
        return NVML_ERROR_INVALID_ARGUMENT;
    *milliwatts = reading(*gpu, kPowerDraw);
    return NVML_SUCCESS;
}
SIM_EXPORT nvmlReturn_t nvmlDeviceGetPowerManagementLimit(nvmlDevice_t device, uint32_t* milliwatts) {
    const SimGpu* gpu;
    nvmlReturn_t status = beginDeviceCall(kSimNvmlDeviceGetPowerManagementLimit, device, gpu);
    if (status != NVML_SUCCESS)
        return status;
    if (!milliwatts)
        return NVML_ERROR_INVALID_ARGUMENT;
    *milliwatts = reading(*gpu, kPowerLimit);
    return NVML_SUCCESS;
}
// The oldest entry point fills the old 52-byte layout; bus is at 20 in both.
SIM_EXPORT nvmlReturn_t nvmlDeviceGetPciInfo(nvmlDevice_t device, nvmlPciInfo_t* pci) {
    return pciInfo(kSimNvmlDeviceGetPciInfo, device, pci, kNvmlPciInfoV1Bytes);
}
SIM_EXPORT nvmlReturn_t nvmlDeviceGetPciInfo_v2(nvmlDevice_t device, nvmlPciInfo_t* pci) {
    return pciInfo(kSimNvmlDeviceGetPciInfoV2, device, pci, sizeof(nvmlPciInfo_t));
}
SIM_EXPORT nvmlReturn_t nvmlDeviceGetPciInfo_v3(nvmlDevice_t device, nvmlPciInfo_t* pci) {
    return pciInfo(kSimNvmlDeviceGetPciInfoV3, device, pci, sizeof(nvmlPciInfo_t));
}
SIM_EXPORT nvmlReturn_t nvmlDeviceGetDriverModel(nvmlDevice_t device, nvmlDriverModel_t* current,
                                                 nvmlDriverModel_t* pending) {
    return driverModel(kSimNvmlDeviceGetDriverModel, device, current, pending);
}
SIM_EXPORT nvmlReturn_t nvmlDeviceGetDriverModel_v2(nvmlDevice_t device, nvmlDriverModel_t* current,
                                                    nvmlDriverModel_t* pending) {
    return driverModel(kSimNvmlDeviceGetDriverModelV2, device, current, pending);
}

SIM_EXPORT uint32_t gaugelineSimCallCount(const char* name) {
    return simCount(simRuntime, name);
}
SIM_EXPORT void gaugelineSimResetCounts() {
    resetSimCounts(simRuntime);
}
SIM_EXPORT int gaugelineSimReload() {
    return loadSimScenario(simRuntime);
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        loadSimScenario(simRuntime);
        hideOmittedExports(instance, simRuntime, true);
    }
    return TRUE;
}
