// gl-idle.exe: the yardstick of the cost measurement. A window, a message
// loop and a 1-second timer that does nothing: what any Wine program costs
// just by being there.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = instance;
    wc.lpszClassName = L"GLIDLE";
    RegisterClassW(&wc);
    HWND window = CreateWindowW(L"GLIDLE", L"idle", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr, nullptr,
                                instance, nullptr);
    SetTimer(window, 1, 1000, nullptr);
    MSG m;
    while (GetMessageW(&m, nullptr, 0, 0) > 0)
        DispatchMessageW(&m);
    return 0;
}
