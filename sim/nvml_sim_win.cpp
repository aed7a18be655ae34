// Simulated nvml.dll: the NVML functions the Agent calls, driven by the scenario.
#include "gpu/driver_records.h"
#include "sim/sim_runtime_win.h"

#include <cstdio>
#include <cstring>
#include <type_traits>

#define SIM_EXPORT extern "C" __declspec(dllexport)

namespace {
char gDeviceTokens[kSimMaxGpus];
std::atomic<int32_t> gInitCount{0};

// NVML numbers devices by PCI bus, which need not be the Agent's slot order.
const SimGpu* gpuAt(size_t index) {
    std::vector<int> order = nvmlGpuOrder(gSimRuntime.scenario);
    return index < order.size() ? &gSimRuntime.scenario.gpus[static_cast<size_t>(order[index])] : nullptr;
}

const SimGpu* gpuOf(nvmlDevice_t device) {
    auto* p = reinterpret_cast<char*>(device);
    if (p < gDeviceTokens || p >= gDeviceTokens + kSimMaxGpus)
        return nullptr;
    return gpuAt(static_cast<size_t>(p - gDeviceTokens));
}

// Counting, delay, fail rules, initialisation and device checks.
nvmlReturn_t beginDeviceCall(SimFunction function, nvmlDevice_t device, const SimGpu*& gpu) {
    gpu = gpuOf(device);
    int32_t status;
    if (simCallFails(gSimRuntime, function, gpu ? gpu->index : -1, -1, status))
        return status;
    if (gInitCount.load() <= 0)
        return NVML_ERROR_UNINITIALIZED;
    return gpu ? NVML_SUCCESS : NVML_ERROR_INVALID_ARGUMENT;
}

uint32_t reading(const SimGpu& gpu, SimReading which) {
    return static_cast<uint32_t>(readingValue(modelOf(gpu, which), simSeconds(gSimRuntime), 0, UINT32_MAX));
}

nvmlReturn_t init(SimFunction function) {
    int32_t status;
    if (simCallFails(gSimRuntime, function, -1, -1, status))
        return status;
    gInitCount.fetch_add(1);
    return NVML_SUCCESS;
}

nvmlReturn_t deviceCount(SimFunction function, uint32_t* count) {
    int32_t status;
    if (simCallFails(gSimRuntime, function, -1, -1, status))
        return status;
    if (gInitCount.load() <= 0)
        return NVML_ERROR_UNINITIALIZED;
    if (!count)
        return NVML_ERROR_INVALID_ARGUMENT;
    *count = static_cast<uint32_t>(gSimRuntime.scenario.gpus.size());
    return NVML_SUCCESS;
}

nvmlReturn_t handleByIndex(SimFunction function, uint32_t index, nvmlDevice_t* device) {
    const SimGpu* gpu = gpuAt(index);
    int32_t status;
    if (simCallFails(gSimRuntime, function, gpu ? gpu->index : -1, -1, status))
        return status;
    if (gInitCount.load() <= 0)
        return NVML_ERROR_UNINITIALIZED;
    if (!gpu || !device)
        return NVML_ERROR_INVALID_ARGUMENT;
    *device = reinterpret_cast<nvmlDevice_t>(&gDeviceTokens[index]);
    return NVML_SUCCESS;
}

nvmlReturn_t pciInfo(SimFunction function, nvmlDevice_t device, nvmlPciInfo_t* pci, size_t bytes) {
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

nvmlReturn_t driverModel(SimFunction function, nvmlDevice_t device, nvmlDriverModel_t* current,
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
    return init(SimFunction::NvmlInit);
}
SIM_EXPORT nvmlReturn_t nvmlInit_v2() {
    return init(SimFunction::NvmlInitV2);
}
SIM_EXPORT nvmlReturn_t nvmlShutdown() {
    int32_t status;
    if (simCallFails(gSimRuntime, SimFunction::NvmlShutdown, -1, -1, status))
        return status;
    if (gInitCount.load() <= 0)
        return NVML_ERROR_UNINITIALIZED;
    gInitCount.fetch_sub(1);
    return NVML_SUCCESS;
}
SIM_EXPORT nvmlReturn_t nvmlDeviceGetCount(uint32_t* count) {
    return deviceCount(SimFunction::NvmlDeviceGetCount, count);
}
SIM_EXPORT nvmlReturn_t nvmlDeviceGetCount_v2(uint32_t* count) {
    return deviceCount(SimFunction::NvmlDeviceGetCountV2, count);
}
SIM_EXPORT nvmlReturn_t nvmlDeviceGetHandleByIndex(uint32_t index, nvmlDevice_t* device) {
    return handleByIndex(SimFunction::NvmlDeviceGetHandleByIndex, index, device);
}
SIM_EXPORT nvmlReturn_t nvmlDeviceGetHandleByIndex_v2(uint32_t index, nvmlDevice_t* device) {
    return handleByIndex(SimFunction::NvmlDeviceGetHandleByIndexV2, index, device);
}
SIM_EXPORT nvmlReturn_t nvmlDeviceGetMemoryInfo(nvmlDevice_t device, nvmlMemory_t* memory) {
    const SimGpu* gpu;
    nvmlReturn_t status = beginDeviceCall(SimFunction::NvmlDeviceGetMemoryInfo, device, gpu);
    if (status != NVML_SUCCESS)
        return status;
    if (!memory)
        return NVML_ERROR_INVALID_ARGUMENT;
    uint64_t total = uint64_t{reading(*gpu, SimReading::MemoryTotal)} * 1024;
    uint64_t used = uint64_t{reading(*gpu, SimReading::MemoryUsed)} * 1024;
    if (used > total)
        used = total;
    memory->total = total;
    memory->used = used;
    memory->free = total - used;
    return NVML_SUCCESS;
}
SIM_EXPORT nvmlReturn_t nvmlDeviceGetPowerUsage(nvmlDevice_t device, uint32_t* milliwatts) {
    const SimGpu* gpu;
    nvmlReturn_t status = beginDeviceCall(SimFunction::NvmlDeviceGetPowerUsage, device, gpu);
    if (status != NVML_SUCCESS)
        return status;
    if (!milliwatts)
        return NVML_ERROR_INVALID_ARGUMENT;
    *milliwatts = reading(*gpu, SimReading::PowerDraw);
    return NVML_SUCCESS;
}
SIM_EXPORT nvmlReturn_t nvmlDeviceGetPowerManagementLimit(nvmlDevice_t device, uint32_t* milliwatts) {
    const SimGpu* gpu;
    nvmlReturn_t status = beginDeviceCall(SimFunction::NvmlDeviceGetPowerManagementLimit, device, gpu);
    if (status != NVML_SUCCESS)
        return status;
    if (!milliwatts)
        return NVML_ERROR_INVALID_ARGUMENT;
    *milliwatts = reading(*gpu, SimReading::PowerLimit);
    return NVML_SUCCESS;
}
// The oldest entry point fills the old 52-byte layout; bus is at 20 in both.
SIM_EXPORT nvmlReturn_t nvmlDeviceGetPciInfo(nvmlDevice_t device, nvmlPciInfo_t* pci) {
    return pciInfo(SimFunction::NvmlDeviceGetPciInfo, device, pci, kNvmlPciInfoV1Bytes);
}
SIM_EXPORT nvmlReturn_t nvmlDeviceGetPciInfo_v2(nvmlDevice_t device, nvmlPciInfo_t* pci) {
    return pciInfo(SimFunction::NvmlDeviceGetPciInfoV2, device, pci, sizeof(nvmlPciInfo_t));
}
SIM_EXPORT nvmlReturn_t nvmlDeviceGetPciInfo_v3(nvmlDevice_t device, nvmlPciInfo_t* pci) {
    return pciInfo(SimFunction::NvmlDeviceGetPciInfoV3, device, pci, sizeof(nvmlPciInfo_t));
}
SIM_EXPORT nvmlReturn_t nvmlDeviceGetDriverModel(nvmlDevice_t device, nvmlDriverModel_t* current,
                                                 nvmlDriverModel_t* pending) {
    return driverModel(SimFunction::NvmlDeviceGetDriverModel, device, current, pending);
}
SIM_EXPORT nvmlReturn_t nvmlDeviceGetDriverModel_v2(nvmlDevice_t device, nvmlDriverModel_t* current,
                                                    nvmlDriverModel_t* pending) {
    return driverModel(SimFunction::NvmlDeviceGetDriverModelV2, device, current, pending);
}

// Each export the Agent looks up has the type its list gives.
#define GAUGELINE_SIM_NVML_TYPE(name, field, params)                                                         \
    static_assert(std::is_same_v<decltype(&nvml##name), nvmlReturn_t(*) params>, "nvml" #name);
GAUGELINE_NVML_CALLS(GAUGELINE_SIM_NVML_TYPE)
#undef GAUGELINE_SIM_NVML_TYPE

SIM_EXPORT uint32_t gaugelineSimCallCount(const char* name) {
    return simCount(gSimRuntime, name);
}
SIM_EXPORT void gaugelineSimResetCounts() {
    resetSimCounts(gSimRuntime);
}
SIM_EXPORT int gaugelineSimReload() {
    return loadSimScenario(gSimRuntime);
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        loadSimScenario(gSimRuntime);
        hideOmittedExports(instance, gSimRuntime, true);
    }
    return TRUE;
}
