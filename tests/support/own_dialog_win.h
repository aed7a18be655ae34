// Finds a dialog of the test's own process by its title: other test programs
// may show dialogs of the same title on the same Wine desktop at the same time.
// Also the message pump and the window text the Windows tests share.
#pragma once
#include <windows.h>

#include <chrono>
#include <string>
#include <thread>

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

// A dialog found by title, or owned by owner when no title is given; null
// after 30 seconds.
inline HWND waitForDialog(const wchar_t* title, HWND owner = nullptr) {
    for (int i = 0; i < 1500; ++i) {
        if (title != nullptr)
            if (HWND w = findOwnDialog(title))
                return w;
        for (HWND w = nullptr; (w = FindWindowExW(nullptr, w, L"#32770", nullptr)) != nullptr;)
            if (title == nullptr && IsWindowVisible(w) && GetWindow(w, GW_OWNER) == owner)
                return w;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return nullptr;
}

// Handles every message waiting for this thread.
inline void pumpMessages() {
    MSG m;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&m);
        DispatchMessageW(&m);
    }
}

inline std::wstring windowText(HWND w) {
    wchar_t text[128] = {};
    GetWindowTextW(w, text, 128);
    return text;
}
