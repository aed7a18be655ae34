// The simulated driver DLLs as the Agent meets them: installed in the prefix's
// system directory and NVSMI folder, driven by a scenario named before loading.
#include "gpu/nvapi_calls.h"
#include "gpu/nvml_calls.h"
#include "tests/support/sim_test_support_win.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace simtest;

template <typename Fn> Fn lookup(HMODULE module, const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

TEST(SimDriver, Smoke) {
    useScenario("time 10\n"
                "gpu 0 powerDraw 123456\n"
                "gpu 0 gpuLoad wave 10 90 20\n"
                "gpu 1 tcc\n"
                "gpu 1 bus 8\n"
                "omit nvmlDeviceGetDriverModel\n");
    HMODULE nvml = LoadLibraryW(L"C:\\Program Files\\NVIDIA Corporation\\NVSMI\\nvml.dll");
    ASSERT_NE(nvml, nullptr);
    NvmlApi api;
    api.init = lookup<decltype(api.init)>(nvml, "nvmlInit");
    api.getHandleByIndex = lookup<decltype(api.getHandleByIndex)>(nvml, "nvmlDeviceGetHandleByIndex");
    api.getPowerUsage = lookup<decltype(api.getPowerUsage)>(nvml, "nvmlDeviceGetPowerUsage");
    api.getPciInfo = lookup<decltype(api.getPciInfo)>(nvml, "nvmlDeviceGetPciInfo");
    EXPECT_EQ(GetProcAddress(nvml, "nvmlDeviceGetDriverModel"), nullptr);
    ASSERT_EQ(api.init(), NVML_SUCCESS);
    nvmlDevice_t device = nullptr, tcc = nullptr;
    ASSERT_EQ(api.getHandleByIndex(0, &device), NVML_SUCCESS);
    ASSERT_EQ(api.getHandleByIndex(1, &tcc), NVML_SUCCESS);
    uint32_t milliwatts = 0;
    EXPECT_EQ(api.getPowerUsage(device, &milliwatts), NVML_SUCCESS);
    EXPECT_EQ(milliwatts, 123456u);
    nvmlPciInfo_t pci;
    std::memset(&pci, 0xAB, sizeof pci);
    ASSERT_EQ(api.getPciInfo(tcc, &pci), NVML_SUCCESS);
    EXPECT_EQ(pci.bus, 8u);
    EXPECT_EQ(reinterpret_cast<uint8_t*>(&pci)[kNvmlPciInfoV1Bytes],
              0xAB); // the oldest entry point fills 52 bytes

    HMODULE nvapi = LoadLibraryA("nvapi64.dll"); // the ordinary search, as the sampler loads it
    ASSERT_EQ(nvapi, GetModuleHandleW(systemNvapiPath().c_str()));
    auto query = lookup<NvAPI_QueryInterfaceFn>(nvapi, "nvapi_QueryInterface");
    auto enumerate = reinterpret_cast<NvAPI_EnumGpusFn>(query(nvapi_id::NvAPI_EnumPhysicalGPUs));
    auto usage = reinterpret_cast<NvAPI_GpuUsageFn>(query(nvapi_id::GpuUsageQuery));
    NvPhysicalGpuHandle handles[NVAPI_MAX_PHYSICAL_GPUS] = {};
    uint32_t count = 0;
    ASSERT_EQ(enumerate(handles, &count), NVAPI_OK);
    EXPECT_EQ(count, 1u);
    GpuUsageRecord record{};
    record.version = kGpuUsageVersion;
    ASSERT_EQ(usage(handles[0], &record), NVAPI_OK);
    EXPECT_EQ(record.gpuUsage, 90u); // half a period into the wave: its top
    EXPECT_EQ(simCount(nvapi, "NvAPI_EnumPhysicalGPUs"), 1u);
    FreeLibrary(nvapi);
    FreeLibrary(nvml);
    clearScenario();
}
