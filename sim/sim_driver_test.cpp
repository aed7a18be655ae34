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
    useScenario(
        "time 10\ngpu 0 gpuLoad wave 10 90 20\ngpu 1 tcc\ngpu 1 bus 8\nomit nvmlDeviceGetDriverModel\n");
    HMODULE nvml = LoadLibraryW(L"C:\\Program Files\\NVIDIA Corporation\\NVSMI\\nvml.dll");
    ASSERT_NE(nvml, nullptr);
    EXPECT_EQ(GetProcAddress(nvml, "nvmlDeviceGetDriverModel"), nullptr);
    NvmlApi api;
    api.init = lookup<decltype(api.init)>(nvml, "nvmlInit");
    api.getHandleByIndex = lookup<decltype(api.getHandleByIndex)>(nvml, "nvmlDeviceGetHandleByIndex");
    api.getPciInfo = lookup<decltype(api.getPciInfo)>(nvml, "nvmlDeviceGetPciInfo");
    ASSERT_EQ(api.init(), NVML_SUCCESS);
    nvmlDevice_t tcc = nullptr;
    ASSERT_EQ(api.getHandleByIndex(1, &tcc), NVML_SUCCESS);
    nvmlPciInfo_t pci;
    std::memset(&pci, 0xAB, sizeof pci);
    ASSERT_EQ(api.getPciInfo(tcc, &pci), NVML_SUCCESS);
    EXPECT_EQ(pci.bus, 8u);
    // The oldest entry point fills 52 bytes.
    EXPECT_EQ(reinterpret_cast<uint8_t*>(&pci)[kNvmlPciInfoV1Bytes], 0xAB);

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
    FreeLibrary(nvapi);
    FreeLibrary(nvml);
    clearScenario();
}
