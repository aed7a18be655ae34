// The binding layer in a prefix whose system directory holds no nvapi64.dll,
// with a copy of the simulated driver beside the program, first in the ordinary
// search, later loaded by other code: the layer must never use it.
#include "gpu/nvapi_binding.h"
#include "gpu/nvapi_binding_state_win.h"
#include "tests/support/sim_test_support_win.h"

#include <gtest/gtest.h>

#include <string>

using namespace simtest;

TEST(NoDriver, CopiesOutsideTheSystemDirectoryAreNeverBound) {
    ASSERT_EQ(GetFileAttributesW(systemNvapiPath().c_str()), INVALID_FILE_ATTRIBUTES)
        << "this prefix must not hold the simulated driver";
    wchar_t path[MAX_PATH];
    std::wstring program(path, GetModuleFileNameW(nullptr, path, MAX_PATH));
    std::wstring beside = program.substr(0, program.find_last_of(L"\\/") + 1) + L"nvapi64.dll";
    ASSERT_TRUE(CopyFileW(buildSimPath(L"nvapi64.dll").c_str(), beside.c_str(), FALSE));

    EXPECT_EQ(NvAPI_Initialize(), NVAPI_LIBRARY_NOT_FOUND);
    uint32_t count = 77;
    EXPECT_EQ(NvAPI_EnumPhysicalGPUs(nullptr, &count), NVAPI_LIBRARY_NOT_FOUND);
    EXPECT_EQ(count, 77u);
    EXPECT_EQ(GetModuleHandleA("nvapi64.dll"), nullptr);

    HMODULE copy = LoadLibraryW(L"nvapi64.dll"); // other code, by the ordinary search
    ASSERT_NE(copy, nullptr);
    uint32_t bus = 0;
    EXPECT_EQ(NvAPI_GPU_GetBusId(nullptr, &bus), NVAPI_LIBRARY_NOT_FOUND);
    EXPECT_EQ(NvAPI_Initialize(), NVAPI_LIBRARY_NOT_FOUND);
    EXPECT_EQ(simCount(copy, "NvAPI_Initialize"), 0u);
    EXPECT_EQ(NvAPI_Unload(), NVAPI_API_NOT_INITIALIZED);
    EXPECT_EQ(gNvapiBinding.busyCount.load(), 0);
    FreeLibrary(copy);
    DeleteFileW(beside.c_str());
}
