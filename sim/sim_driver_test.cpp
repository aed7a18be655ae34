// The simulated NVML as the Agent meets it: installed in the prefix's NVSMI
// folder, driven by a scenario named before loading. The simulated nvapi64.dll
// is walked through by the binding layer's tests.
#include "gpu/nvml_calls.h"
#include "tests/support/sim_test_support_win.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace simtest;

template <typename Fn> Fn lookup(HMODULE module, const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

TEST(SimDriver, Smoke) {
    useScenario("gpu 0 bus 2\ngpu 1 tcc\ngpu 1 bus 8\nomit nvmlDeviceGetDriverModel\n");
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

    FreeLibrary(nvml);
    clearScenario();
}
