// The simulated NVML as the Windows Agent meets it: installed in the prefix's
// NVSMI folder, driven by a scenario named before loading, bound by the
// Windows loader. The simulated nvapi64.dll is walked through by the binding
// layer's tests.
#include "gpu/nvml_library.h"
#include "tests/support/sim_test_support_win.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace simtest;

TEST(SimDriver, Smoke) {
    useScenario("gpu 0 bus 2\ngpu 1 tcc\ngpu 1 bus 8\nomit nvmlDeviceGetDriverModel\n");
    void* nvml = openNvmlLibrary(L"C:\\Program Files\\NVIDIA Corporation\\NVSMI\\nvml.dll", nullptr);
    ASSERT_NE(nvml, nullptr);
    NvmlApi api;
    bindNvml(&api, lookupNvmlExport, nvml, NvmlGeneration::Oldest);
    EXPECT_EQ(api.getDriverModel, nullptr);
    ASSERT_EQ(api.init(), NVML_SUCCESS);
    nvmlDevice_t tcc = nullptr;
    ASSERT_EQ(api.getHandleByIndex(1, &tcc), NVML_SUCCESS);
    nvmlPciInfo_t pci;
    std::memset(&pci, 0xAB, sizeof pci);
    ASSERT_EQ(api.getPciInfo(tcc, &pci), NVML_SUCCESS);
    EXPECT_EQ(pci.bus, 8u);
    // The oldest entry point fills 52 bytes.
    EXPECT_EQ(reinterpret_cast<uint8_t*>(&pci)[kNvmlPciInfoV1Bytes], 0xAB);

    FreeLibrary(static_cast<HMODULE>(nvml));
    clearScenario();
}
