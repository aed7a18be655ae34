// Loads a library by bare file name from the Windows system directory only:
// never from the program's directory, the current directory or the search path.
#pragma once
#include <windows.h>

// The two platform calls the loader makes; tests give their own.
struct SystemLibraryApi {
    HMODULE(WINAPI* loadLibraryExW)(LPCWSTR path, HANDLE file, DWORD flags);
    UINT(WINAPI* getSystemDirectoryW)(LPWSTR buffer, UINT size);
};
extern const SystemLibraryApi kSystemLibraryApi; // the real functions

// LOAD_WITH_ALTERED_SEARCH_PATH and the directory-search group; never passed on.
constexpr DWORD kLoadSearchFlagsMask = 0x1F08;

// Both set the last error to 0 first; a name with a directory part gives null
// with last error 160 (ERROR_BAD_ARGUMENTS) and loads nothing.
HMODULE LoadSystemLibraryW(const wchar_t* name, DWORD flags, const SystemLibraryApi& api = kSystemLibraryApi);
HMODULE LoadSystemLibraryA(const char* name, DWORD flags, const SystemLibraryApi& api = kSystemLibraryApi);

// New strings from LocalAlloc (zero-filled); the caller frees them with LocalFree.
wchar_t* SystemDirectoryPath(const wchar_t* name, const SystemLibraryApi& api = kSystemLibraryApi);
wchar_t* WidenAscii(const char* name);
bool HasPathSeparator(const wchar_t* name);
