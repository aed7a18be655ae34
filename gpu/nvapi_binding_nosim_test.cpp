// The binding layer in a prefix whose system directory holds no nvapi64.dll,
// with a copy of the simulated driver beside the program and in the current
// directory: the layer must use neither.
#include "gpu/nvapi_binding.h"
#include "gpu/nvapi_binding_state_win.h"
#include "tests/support/sim_test_support_win.h"
#include "gpu/system_library_win.h"

#include <gtest/gtest.h>

#include <string>

using namespace simtest;

namespace {
std::wstring programDirectory() {
    wchar_t path[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring text(path, length);
    return text.substr(0, text.find_last_of(L"\\/") + 1);
}

class NoDriverTest : public ::testing::Test {
  protected:
    void SetUp() override {
        beside = programDirectory() + L"nvapi64.dll";
        wchar_t current[MAX_PATH];
        GetCurrentDirectoryW(MAX_PATH, current);
        inCurrent = std::wstring(current) + L"\\nvapi64.dll";
        ASSERT_TRUE(CopyFileW(buildSimPath(L"nvapi64.dll").c_str(), beside.c_str(), FALSE));
        CopyFileW(buildSimPath(L"nvapi64.dll").c_str(), inCurrent.c_str(), FALSE);
    }
    void TearDown() override {
        DeleteFileW(beside.c_str());
        DeleteFileW(inCurrent.c_str());
    }
    std::wstring beside, inCurrent;
};
} // namespace

TEST_F(NoDriverTest, EveryCallReportsLibraryNotFoundAndTheCopyBesideIsNotUsed) {
    ASSERT_EQ(GetFileAttributesW(systemNvapiPath().c_str()), INVALID_FILE_ATTRIBUTES)
        << "this prefix must not hold the simulated driver";
    EXPECT_EQ(NvAPI_Initialize(), NVAPI_LIBRARY_NOT_FOUND);
    EXPECT_EQ(NvAPI_Initialize(), NVAPI_LIBRARY_NOT_FOUND);
    NvPhysicalGpuHandle handles[NVAPI_MAX_PHYSICAL_GPUS] = {};
    uint32_t count = 77;
    EXPECT_EQ(NvAPI_EnumPhysicalGPUs(handles, &count), NVAPI_LIBRARY_NOT_FOUND);
    EXPECT_EQ(count, 77u);
    uint32_t bus = 0;
    EXPECT_EQ(NvAPI_GPU_GetBusId(nullptr, &bus), NVAPI_LIBRARY_NOT_FOUND);
    EXPECT_EQ(QueryVoltageStatus(nullptr, nullptr), NVAPI_LIBRARY_NOT_FOUND);
    EXPECT_EQ(GetModuleHandleA("nvapi64.dll"), nullptr);
    EXPECT_EQ(NvAPI_Unload(), NVAPI_API_NOT_INITIALIZED);
    EXPECT_EQ(gNvapiBinding.busyCount.load(), 0);
    EXPECT_EQ(gNvapiBinding.generation.load(), 0u);

    SetLastError(0);
    EXPECT_EQ(LoadSystemLibraryA("nvapi64.dll", 0), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
}

// Other code loads the copy beside the program through the ordinary search:
// the layer still binds only a system-directory module, so it finds none.
TEST_F(NoDriverTest, ACopyLoadedByOtherCodeFromBesideTheProgramIsNotBound) {
    HMODULE copy = LoadLibraryW(L"nvapi64.dll");
    ASSERT_NE(copy, nullptr) << "the copy beside the program should load by the ordinary search";
    EXPECT_EQ(NvAPI_Initialize(), NVAPI_LIBRARY_NOT_FOUND);
    EXPECT_EQ(NvAPI_Initialize(), NVAPI_LIBRARY_NOT_FOUND);
    uint32_t bus = 0;
    EXPECT_EQ(NvAPI_GPU_GetBusId(nullptr, &bus), NVAPI_LIBRARY_NOT_FOUND);
    EXPECT_EQ(simCount(copy, "NvAPI_Initialize"), 0u);
    EXPECT_EQ(simCount(copy, "lookup:NvAPI_GPU_GetBusId"), 0u);
    EXPECT_EQ(gNvapiBinding.queryInterface.load(), nullptr);
    EXPECT_EQ(gNvapiBinding.identityCheckSum.load(), 0u);
    EXPECT_EQ(NvAPI_Unload(), NVAPI_API_NOT_INITIALIZED);
    EXPECT_EQ(gNvapiBinding.busyCount.load(), 0);
    FreeLibrary(copy);
}
