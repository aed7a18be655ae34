#include "gpu/system_library_win.h"

#include <cstring>
#include <cwchar>

const SystemLibraryApi kSystemLibraryApi = {LoadLibraryExW, GetSystemDirectoryW};

bool HasPathSeparator(const wchar_t* name) {
    if (!name)
        return false;
    for (const wchar_t* p = name; *p; ++p) {
        if (*p == L'\\' || *p == L'/')
            return true;
    }
    return false;
}

wchar_t* WidenAscii(const char* name) {
    if (!name)
        return nullptr;
    size_t length = std::strlen(name);
    auto* wide = static_cast<wchar_t*>(LocalAlloc(LPTR, (length + 1) * sizeof(wchar_t)));
    if (!wide)
        return nullptr;
    for (size_t i = 0; i < length; ++i)
        wide[i] = static_cast<wchar_t>(static_cast<unsigned char>(name[i]));
    return wide;
}

wchar_t* SystemDirectoryPath(const wchar_t* name, const SystemLibraryApi& api) {
    if (!name)
        return nullptr;
    UINT needed = api.getSystemDirectoryW(nullptr, 0); // terminator included
    if (needed == 0)
        return nullptr;
    size_t nameLength = std::wcslen(name);
    size_t units = static_cast<size_t>(needed) + 1 + nameLength;
    auto* path = static_cast<wchar_t*>(LocalAlloc(LPTR, units * sizeof(wchar_t)));
    if (!path)
        return nullptr;
    UINT length = api.getSystemDirectoryW(path, needed);
    // A directory that grew between the two calls reports a size instead of a length.
    if (length == 0 || length >= needed) {
        LocalFree(path);
        return nullptr;
    }
    if (path[length - 1] != L'\\')
        path[length++] = L'\\';
    std::wmemcpy(path + length, name, nameLength);
    return path;
}

HMODULE LoadSystemLibraryW(const wchar_t* name, DWORD flags, const SystemLibraryApi& api) {
    SetLastError(0);
    if (HasPathSeparator(name)) {
        SetLastError(ERROR_BAD_ARGUMENTS);
        return nullptr;
    }
    wchar_t* path = SystemDirectoryPath(name, api);
    if (name && !path)
        return nullptr;
    HMODULE module = api.loadLibraryExW(path, nullptr, flags & ~kLoadSearchFlagsMask);
    if (path) {
        DWORD error = GetLastError();
        LocalFree(path);
        SetLastError(error);
    }
    return module;
}

HMODULE LoadSystemLibraryA(const char* name, DWORD flags, const SystemLibraryApi& api) {
    wchar_t* wide = WidenAscii(name);
    if (name && !wide)
        return nullptr;
    HMODULE module = LoadSystemLibraryW(wide, flags, api);
    if (wide) {
        DWORD error = GetLastError();
        LocalFree(wide);
        SetLastError(error);
    }
    return module;
}
