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
    int nullPathLoads = 0;
};
FakeSystem fake;

HMODULE WINAPI fakeLoadLibraryExW(LPCWSTR path, HANDLE, DWORD flags) {
    if (path)
        fake.paths.push_back(path);
    else
        ++fake.nullPathLoads;
    fake.flags.push_back(flags);
    SetLastError(ERROR_MOD_NOT_FOUND);
    return reinterpret_cast<HMODULE>(static_cast<uintptr_t>(0x10000));
}

UINT WINAPI fakeGetSystemDirectoryW(LPWSTR buffer, UINT size) {
    if (fake.failDirectory) {
        SetLastError(ERROR_ACCESS_DENIED);
        return 0;
    }
    UINT length = static_cast<UINT>(fake.directory.size());
    if (!buffer || size <= length)
        return length + 1;
    fake.directory.copy(buffer, length);
    buffer[length] = 0;
    return length;
}

const SystemLibraryApi kFakeApi = {fakeLoadLibraryExW, fakeGetSystemDirectoryW};

class SystemLibraryTest : public ::testing::Test {
  protected:
    void SetUp() override { fake = FakeSystem{}; }
};
} // namespace

TEST_F(SystemLibraryTest, JoinsSystemDirectoryAndNameWithOneBackslash) {
    struct Case {
        const wchar_t* directory;
        const wchar_t* expected;
    };
    const Case cases[] = {
        {L"C:\\windows\\system32", L"C:\\windows\\system32\\nvapi64.dll"},
        {L"C:\\windows\\system32\\", L"C:\\windows\\system32\\nvapi64.dll"},
        {L"C:\\", L"C:\\nvapi64.dll"},
    };
    for (const Case& c : cases) {
        fake = FakeSystem{};
        fake.directory = c.directory;
        HMODULE module = LoadSystemLibraryA("nvapi64.dll", 0, kFakeApi);
        EXPECT_NE(module, nullptr);
        ASSERT_EQ(fake.paths.size(), 1u);
        EXPECT_EQ(fake.paths[0], c.expected);
        wchar_t* path = SystemDirectoryPath(L"nvapi64.dll", kFakeApi);
        ASSERT_NE(path, nullptr);
        EXPECT_STREQ(path, c.expected);
        LocalFree(path);
    }
}

TEST_F(SystemLibraryTest, NamesWithADirectoryPartAreRefused) {
    const wchar_t* names[] = {L"sub\\nvapi64.dll",
                              L"sub/nvapi64.dll",
                              L"\\nvapi64.dll",
                              L"nvapi64.dll/",
                              L"C:\\windows\\system32\\nvapi64.dll",
                              L"..\\nvapi64.dll",
                              L"/"};
    for (const wchar_t* name : names) {
        SetLastError(12345);
        EXPECT_EQ(LoadSystemLibraryW(name, 0, kFakeApi), nullptr);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_ARGUMENTS));
        EXPECT_TRUE(HasPathSeparator(name));
    }
    SetLastError(12345);
    EXPECT_EQ(LoadSystemLibraryA("x/y.dll", 0, kFakeApi), nullptr);
    EXPECT_EQ(GetLastError(), 160u);
    EXPECT_TRUE(fake.paths.empty());
    EXPECT_EQ(fake.nullPathLoads, 0);
    EXPECT_FALSE(HasPathSeparator(L"nvapi64.dll"));
    EXPECT_FALSE(HasPathSeparator(L""));
    EXPECT_FALSE(HasPathSeparator(nullptr));
}

TEST_F(SystemLibraryTest, SearchFlagsNeverReachTheLoadOtherFlagsDo) {
    struct Case {
        DWORD given, passed;
    };
    const Case cases[] = {
        {0, 0},
        {LOAD_WITH_ALTERED_SEARCH_PATH, 0},
        {0x100, 0},
        {0x200, 0},
        {0x400, 0},
        {0x800, 0},
        {0x1000, 0},
        {0x1F08, 0},
        {DONT_RESOLVE_DLL_REFERENCES, DONT_RESOLVE_DLL_REFERENCES},
        {LOAD_LIBRARY_AS_DATAFILE | 0x800, LOAD_LIBRARY_AS_DATAFILE},
        {LOAD_LIBRARY_AS_IMAGE_RESOURCE | LOAD_WITH_ALTERED_SEARCH_PATH, LOAD_LIBRARY_AS_IMAGE_RESOURCE},
        {0xFFFFFFFF, 0xFFFFE0F7},
    };
    for (const Case& c : cases)
        LoadSystemLibraryW(L"nvapi64.dll", c.given, kFakeApi);
    ASSERT_EQ(fake.flags.size(), std::size(cases));
    for (size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(fake.flags[i], cases[i].passed) << std::hex << cases[i].given;
}

TEST_F(SystemLibraryTest, LastErrorIsClearedFirstAndKeptFromTheLoad) {
    SetLastError(777);
    LoadSystemLibraryW(L"nvapi64.dll", 0, kFakeApi);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND)); // left by the load, not by LocalFree
}

TEST_F(SystemLibraryTest, NoSystemDirectoryMeansNoLoad) {
    fake.failDirectory = true;
    EXPECT_EQ(LoadSystemLibraryW(L"nvapi64.dll", 0, kFakeApi), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(SystemDirectoryPath(L"nvapi64.dll", kFakeApi), nullptr);
    EXPECT_TRUE(fake.flags.empty());
}

TEST_F(SystemLibraryTest, NullNamesGiveNullPathsAndTheLoadDecides) {
    EXPECT_EQ(SystemDirectoryPath(nullptr, kFakeApi), nullptr);
    EXPECT_EQ(WidenAscii(nullptr), nullptr);
    LoadSystemLibraryA(nullptr, 0, kFakeApi);
    EXPECT_EQ(fake.nullPathLoads, 1);
    // With the real loader a null name loads nothing.
    EXPECT_EQ(LoadSystemLibraryW(nullptr, 0), nullptr);
    EXPECT_NE(GetLastError(), 0u);
}

TEST_F(SystemLibraryTest, WidenAsciiCopiesEachByteIntoOneUnit) {
    const char text[] = "nv\x7F\x80\xFF.dll";
    wchar_t* wide = WidenAscii(text);
    ASSERT_NE(wide, nullptr);
    for (size_t i = 0; i < sizeof text; ++i)
        EXPECT_EQ(static_cast<unsigned>(wide[i]), static_cast<unsigned>(static_cast<unsigned char>(text[i])))
            << i;
    LocalFree(wide);
    wchar_t* empty = WidenAscii("");
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty[0], L'\0');
    LocalFree(empty);
}

TEST(SystemLibraryReal, LoadsFromTheSystemDirectory) {
    HMODULE module = LoadSystemLibraryA("kernel32.dll", 0);
    ASSERT_NE(module, nullptr);
    EXPECT_EQ(module, GetModuleHandleW(L"kernel32.dll"));
    FreeLibrary(module);
    wchar_t directory[MAX_PATH];
    UINT length = GetSystemDirectoryW(directory, MAX_PATH);
    ASSERT_GT(length, 0u);
    wchar_t* path = SystemDirectoryPath(L"kernel32.dll");
    ASSERT_NE(path, nullptr);
    EXPECT_EQ(std::wstring(path), std::wstring(directory) + L"\\kernel32.dll");
    LocalFree(path);
    SetLastError(0);
    EXPECT_EQ(LoadSystemLibraryA("no-such-library-here.dll", 0), nullptr);
    EXPECT_NE(GetLastError(), 0u);
}
