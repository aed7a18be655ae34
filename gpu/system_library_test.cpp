#include "gpu/system_library_win.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {
// Fakes of the two platform calls: a chosen system directory and a recorder of loads.
struct FakeSystem {
    std::wstring directory = L"C:\\windows\\system32";
    bool failDirectory = false;
    std::vector<std::wstring> paths;
    std::vector<DWORD> flags;
};
FakeSystem gSystem;

HMODULE WINAPI fakeLoadLibraryExW(LPCWSTR path, HANDLE, DWORD flags) {
    gSystem.paths.push_back(path ? path : L"(null)");
    gSystem.flags.push_back(flags);
    SetLastError(ERROR_MOD_NOT_FOUND);
    return reinterpret_cast<HMODULE>(static_cast<uintptr_t>(0x10000));
}

UINT WINAPI fakeGetSystemDirectoryW(LPWSTR buffer, UINT size) {
    if (gSystem.failDirectory) {
        SetLastError(ERROR_ACCESS_DENIED);
        return 0;
    }
    UINT length = static_cast<UINT>(gSystem.directory.size());
    if (!buffer || size <= length)
        return length + 1;
    gSystem.directory.copy(buffer, length);
    buffer[length] = 0;
    return length;
}

const SystemLibraryApi kFakeApi = {fakeLoadLibraryExW, fakeGetSystemDirectoryW};
} // namespace

// Only the system directory's copy is ever asked for, without search flags;
// names with a directory part and a missing system directory load nothing.
TEST(SystemLibrary, LoadsByNameFromTheSystemDirectoryOnly) {
    struct Case {
        const wchar_t* directory; // null: the directory cannot be found
        const wchar_t* name;
        const wchar_t* loaded; // null: nothing is loaded
        DWORD error;
    };
    const Case cases[] = {
        {L"C:\\windows\\system32", L"nvapi64.dll", L"C:\\windows\\system32\\nvapi64.dll",
         ERROR_MOD_NOT_FOUND},
        {L"C:\\windows\\system32\\", L"nvapi64.dll", L"C:\\windows\\system32\\nvapi64.dll",
         ERROR_MOD_NOT_FOUND},
        {nullptr, L"nvapi64.dll", nullptr, ERROR_ACCESS_DENIED},
        {L"C:\\windows\\system32", L"sub\\nvapi64.dll", nullptr, ERROR_BAD_ARGUMENTS},
        {L"C:\\windows\\system32", L"sub/nvapi64.dll", nullptr, ERROR_BAD_ARGUMENTS},
    };
    for (const Case& c : cases) {
        gSystem = FakeSystem{};
        gSystem.directory = c.directory ? c.directory : L"";
        gSystem.failDirectory = !c.directory;
        SetLastError(12345);
        HMODULE module = LoadSystemLibraryW(c.name, 0xFFFFFFFF, kFakeApi);
        EXPECT_EQ(module != nullptr, c.loaded != nullptr) << c.name;
        EXPECT_EQ(GetLastError(), c.error) << c.name;
        EXPECT_EQ(gSystem.paths,
                  c.loaded ? std::vector<std::wstring>{c.loaded} : std::vector<std::wstring>{});
        EXPECT_EQ(gSystem.flags, c.loaded ? std::vector<DWORD>{0xFFFFE0F7} : std::vector<DWORD>{});
    }
}
