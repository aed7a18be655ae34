#include "agent/windows/agent_window_win.h"

#include "common/program_shell_win.h"

namespace {

void drawBitmap(HDC target, HINSTANCE instance, int id, int x, int y, int width, int height) {
    HBITMAP bitmap = LoadBitmapW(instance, MAKEINTRESOURCEW(id));
    if (!bitmap)
        return;
    HDC memory = CreateCompatibleDC(target);
    if (memory) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        BitBlt(target, x, y, width, height, memory, 0, 0, SRCCOPY);
        SelectObject(memory, old);
        DeleteDC(memory);
    }
    DeleteObject(bitmap);
}

void paint(HWND window, const AgentWindow& w) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(window, &ps);
    bool connected = w.state && w.state->reportConnected.load(std::memory_order_relaxed) != 0;
    drawBitmap(dc, w.instance, IDB_AGENT_COMPUTER, 40, 50, 48, 64);
    drawBitmap(dc, w.instance, connected ? IDB_LINK_OPEN : IDB_LINK_BROKEN, 100, 70, 88, 26);
    drawBitmap(dc, w.instance, IDB_CONSOLE_MONITOR, 200, 60, 48, 48);
    if (w.status[0]) {
        RECT line{0, 130, kAgentWindowWidth, 150};
        HGDIOBJ oldFont = w.font ? SelectObject(dc, w.font) : nullptr;
        SetBkColor(dc, RGB(255, 255, 255));
        SetTextColor(dc, RGB(0, 0, 0));
        ExtTextOutW(dc, 12, 132, ETO_OPAQUE, &line, w.status, static_cast<UINT>(lstrlenW(w.status)), nullptr);
        if (oldFont)
            SelectObject(dc, oldFont);
    }
    EndPaint(window, &ps);
}

} // namespace

POINT agentWindowOrigin(int screenWidth, int screenHeight) {
    return POINT{screenWidth / 2 - kAgentWindowWidth / 2, screenHeight / 2 - kAgentWindowHeight / 2};
}

ATOM registerAgentClass(const AgentWindow& w) {
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof wc;
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = agentWindowProc;
    wc.hInstance = w.instance;
    wc.hIcon = LoadIconW(w.instance, MAKEINTRESOURCEW(IDI_AGENT_LARGE));
    wc.hIconSm = LoadIconW(w.instance, MAKEINTRESOURCEW(IDI_AGENT_SMALL));
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszMenuName = MAKEINTRESOURCEW(IDR_AGENT_ACCELERATORS);
    wc.lpszClassName = w.className;
    return RegisterClassExW(&wc);
}

HWND createAgentWindow(AgentWindow& w, int screenWidth, int screenHeight) {
    POINT origin = agentWindowOrigin(screenWidth, screenHeight);
    return CreateWindowExW(0, w.className, w.title,
                           WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_VISIBLE, origin.x,
                           origin.y, kAgentWindowWidth, kAgentWindowHeight, nullptr, nullptr, w.instance, &w);
}

LRESULT CALLBACK agentWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* w = reinterpret_cast<AgentWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    switch (message) {
    case WM_PAINT:
        if (w) {
            paint(window, *w);
            return 0;
        }
        break;
    case WM_ERASEBKGND:
        return 1;
    case WM_CLOSE:
        DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        if (w) {
            if (w->font)
                DeleteObject(w->font);
            w->font = nullptr;
            releaseSingleInstance(w->mutex);
            if (w->callbacks.destroyed)
                w->callbacks.destroyed(w->callbacks.context);
        }
        PostQuitMessage(0);
        return 0;
    case WM_CTLCOLORSTATIC:
        return reinterpret_cast<LRESULT>(GetStockObject(WHITE_BRUSH));
    case WM_COMMAND:
        if (LOWORD(wParam) == IDM_AGENT_IGNORED)
            return 0;
        break;
    default:
        break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

void invalidateAgentWindow(void* context) {
    auto* w = static_cast<AgentWindow*>(context);
    if (!w || !w->window)
        return;
    InvalidateRect(w->window, nullptr, FALSE);
    UpdateWindow(w->window);
}
