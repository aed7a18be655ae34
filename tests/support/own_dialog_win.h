// Finds a dialog of the test's own process by its title: other test programs
// may show dialogs of the same title on the same Wine desktop at the same time.
#pragma once
#include <windows.h>

namespace own_dialog_detail {
struct Search {
    const wchar_t* title;
    HWND found;
};

inline BOOL CALLBACK match(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<Search*>(param);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    wchar_t cls[16] = {};
    wchar_t title[128] = {};
    GetClassNameW(window, cls, 16);
    GetWindowTextW(window, title, 128);
    if (process == GetCurrentProcessId() && lstrcmpW(cls, L"#32770") == 0 &&
        lstrcmpW(title, search->title) == 0 && IsWindowVisible(window)) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}
} // namespace own_dialog_detail

inline HWND findOwnDialog(const wchar_t* title) {
    own_dialog_detail::Search search{title, nullptr};
    EnumWindows(own_dialog_detail::match, reinterpret_cast<LPARAM>(&search));
    return search.found;
}
