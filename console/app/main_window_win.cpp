#include "console/app/main_window_win.h"

#include "common/program_shell_win.h"
#include "console/display/main_layout.h"
#include "console/display/panel_content.h"
#include "console/intake/link/agent_connection_win.h"
#include "console/intake/link/intake.h"
#include "protocol/text_cp932.h"

#include "gpu/nvapi_binding.h"

#include <commctrl.h>

#include <algorithm>

namespace {

constexpr int kTabTextChars = kTabLabelBytes + 1;

const wchar_t* const kFrameTexts[kFrameCount] = {L"Graphics Clock",
                                                 L"Graphics Clock 履歴",
                                                 L"Memory Clock",
                                                 L"Memory Clock 履歴",
                                                 L"GPU Load",
                                                 L"GPU Load 履歴",
                                                 L"Memory Usage",
                                                 L"Memory Usage 履歴",
                                                 L"Temperature",
                                                 L"Temperature 履歴",
                                                 L"Power Draw",
                                                 L"Power Draw 履歴",
                                                 L"GPU インフォメーション"};

ConsoleApp* appOf(HWND window) {
    return reinterpret_cast<ConsoleApp*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

void tabText(const char* label, wchar_t out[kTabTextChars]) {
    cp932ToWide(label, kTabLabelBytes, out, kTabTextChars);
}

void setTabItemText(HWND tab, int index, const wchar_t* text) {
    TCITEMW item = {};
    item.mask = TCIF_TEXT;
    item.pszText = const_cast<wchar_t*>(text);
    SendMessageW(tab, TCM_SETITEMW, index, reinterpret_cast<LPARAM>(&item));
}

void insertTabItem(HWND tab, int index, const wchar_t* text) {
    TCITEMW item = {};
    item.mask = TCIF_TEXT;
    item.pszText = const_cast<wchar_t*>(text);
    SendMessageW(tab, TCM_INSERTITEMW, index, reinterpret_cast<LPARAM>(&item));
}

ConsoleApp& appOfContext(void* context) {
    return *static_cast<ConsoleApp*>(context);
}

bool readTitle(void* context, wchar_t* out, int outChars) {
    ConsoleApp& app = appOfContext(context);
    if (!app.mainWindow || outChars <= 0)
        return false;
    out[0] = L'\0';
    GetWindowTextW(app.mainWindow, out, outChars);
    return true;
}

void writeTitle(void* context, const wchar_t* title) {
    ConsoleApp& app = appOfContext(context);
    if (app.mainWindow)
        SetWindowTextW(app.mainWindow, title);
}

void resetTabs(void* context, const char* tab0Label) {
    ConsoleApp& app = appOfContext(context);
    if (!app.tabControl)
        return;
    HWND tab = app.tabControl;
    SendMessageW(tab, TCM_SETCURSEL, 0, 0);
    app.selectedGpu.store(0, std::memory_order_relaxed);
    for (int i = static_cast<int>(SendMessageW(tab, TCM_GETITEMCOUNT, 0, 0)) - 1; i >= 1; --i)
        SendMessageW(tab, TCM_DELETEITEM, i, 0);
    wchar_t text[kTabTextChars];
    tabText(tab0Label, text);
    setTabItemText(tab, 0, text);
    app.tabsChanged.fetch_add(1);
}

void outerSize(HWND window, int* w, int* h) {
    RECT r = {};
    GetWindowRect(window, &r);
    *w = r.right - r.left;
    *h = r.bottom - r.top;
}

bool regionHolds(HRGN region, const RECT& r) {
    HRGN part = CreateRectRgnIndirect(&r);
    if (!part)
        return false;
    bool holds = CombineRgn(part, part, region, RGN_DIFF) == NULLREGION;
    DeleteObject(part);
    return holds;
}

void paintMainWindow(ConsoleApp& app, HWND window) {
    HRGN update = CreateRectRgn(0, 0, 0, 0);
    bool updateKnown = update && GetUpdateRgn(window, update, FALSE) != ERROR;
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(window, &ps);
    int w = 0, h = 0;
    outerSize(window, &w, &h);
    // The image is kept between paints and made again only for a new size.
    // Only the area being painted is filled white (what a fresh image is
    // there), drawn and copied: the rest of the window is clipped away, and
    // a part that lies wholly outside it is not drawn at all.
    Surface& offscreen = app.images.offscreen;
    RECT r = ps.rcPaint;
    r.right = std::min(r.right, static_cast<LONG>(w));
    r.bottom = std::min(r.bottom, static_cast<LONG>(h - 20));
    bool ready = true;
    if (offscreen.dc && offscreen.width == w && offscreen.height == h - 20) {
        fillSurfaceRect(offscreen, RGB(255, 255, 255), r);
    } else {
        releaseSurface(offscreen);
        ready = createSurface(offscreen, w, h - 20, RGB(255, 255, 255));
    }
    PixelRect areas[kInvalidationRectCount];
    tickRepaintAreas(w, h, areas);
    bool metersTouched = false, readoutTouched = false, whole = updateKnown;
    for (int i = 0; i < kInvalidationRectCount; ++i) {
        if (!isMeterOrReadoutArea(i))
            continue;
        RECT a = {areas[i].left, areas[i].top, areas[i].right, areas[i].bottom};
        bool touched = RectVisible(dc, &a) != FALSE;
        if (i < kPlotPanelCount)
            metersTouched = metersTouched || touched;
        else
            readoutTouched = touched;
        whole = whole && regionHolds(update, a);
    }
    // Taken before the drawing, so that what is recorded is never newer than
    // what was drawn.
    const ShownGpu shown = shownGpu(app);
    uint64_t content = ready && whole ? meterAndReadoutContent(shown.readings, plotGeometry(w, h).p) : 0;
    if (ready) {
        if (metersTouched)
            paintLevelMeters(app.images, shown, offscreen.dc, w, h);
        paintPlotPanels(app.images, shown, offscreen.dc, w, h);
        if (readoutTouched)
            paintReadoutPanel(app.images, shown, offscreen.dc, h);
        if (r.right > r.left && r.bottom > r.top)
            BitBlt(dc, r.left, r.top, r.right - r.left, r.bottom - r.top, offscreen.dc, r.left, r.top,
                   SRCCOPY);
    }
    // Shown whole, the meters and readout are known; drawn in part, not.
    if (ready && whole)
        app.meterAndReadoutShown.store(content);
    else if (metersTouched || readoutTouched)
        app.meterAndReadoutShown.store(0);
    EndPaint(window, &ps);
    if (update)
        DeleteObject(update);
}

void destroyMainWindow(ConsoleApp& app) {
    releasePlotTemplates(app.images.templates);
    releaseSurface(app.images.offscreen);
    for (Surface& meter : app.images.meterImages)
        releaseSurface(meter);
    releaseSurface(app.images.readoutImage);
    if (app.images.font) {
        DeleteObject(app.images.font);
        app.images.font = nullptr;
    }
    releaseSingleInstance(app.instanceMutex);
    NvAPI_Unload();
    PostQuitMessage(0);
}

LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    if (message == WM_GETMINMAXINFO) {
        auto* limits = reinterpret_cast<MINMAXINFO*>(lParam);
        limits->ptMinTrackSize = {kInitialWidth, kInitialHeight};
        limits->ptMaxTrackSize = {kMaxTrackWidth, kMaxTrackHeight};
        return 0;
    }
    ConsoleApp* app = appOf(window);
    if (!app)
        return DefWindowProcW(window, message, wParam, lParam);
    switch (message) {
    case WM_NOTIFY: {
        auto* header = reinterpret_cast<NMHDR*>(lParam);
        if (header && header->code == static_cast<UINT>(TCN_SELCHANGE) &&
            header->hwndFrom == app->tabControl) {
            int selection = static_cast<int>(SendMessageW(app->tabControl, TCM_GETCURSEL, 0, 0));
            app->selectedGpu.store(slotForTab(selection), std::memory_order_relaxed);
            InvalidateRect(window, nullptr, FALSE);
            UpdateWindow(window);
        }
        return 0;
    }
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDM_ACCELERATOR_COMMAND:
            return 0;
        case IDC_IP_BUTTON:
            openAgentDialog(app->instance, window, app->panel, app->windowCallbacks, app->listener);
            return 0;
        default:
            return DefWindowProcW(window, message, wParam, lParam);
        }
    case WM_CTLCOLORSTATIC:
        return reinterpret_cast<LRESULT>(GetStockObject(WHITE_BRUSH));
    case WM_ERASEBKGND:
        return 1;
    case WM_SIZE:
        layoutMainWindow(*app, LOWORD(lParam));
        return 0;
    case WM_PAINT:
        paintMainWindow(*app, window);
        return 0;
    case WM_CLOSE:
        DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        destroyMainWindow(*app);
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

HWND createChild(ConsoleApp& app, const wchar_t* className, const wchar_t* text, DWORD style,
                 const ControlPlacement& at, int id) {
    return CreateWindowExW(0, className, text, WS_CHILD | WS_VISIBLE | style, at.x, at.y, at.w, at.h,
                           app.mainWindow, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), app.instance,
                           nullptr);
}

bool creationFailed(ConsoleApp& app, const wchar_t* text) {
    MessageBoxW(nullptr, text, kConsoleTitle, MB_OK);
    app.appRunning.store(0, std::memory_order_relaxed);
    return false;
}

} // namespace

bool registerConsoleClass(ConsoleApp& app, HINSTANCE instance) {
    app.instance = instance;
    if (LoadStringW(instance, IDS_CONSOLE_TITLE, app.title, kTitleChars) <= 0)
        lstrcpynW(app.title, kConsoleTitle, kTitleChars);
    if (LoadStringW(instance, IDC_CONSOLE, app.className, kTitleChars) <= 0)
        lstrcpynW(app.className, L"KOVRAGAUGELINECONSOLE", kTitleChars);
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof wc;
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = mainWindowProc;
    wc.hInstance = instance;
    wc.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_CONSOLE_LARGE));
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszMenuName = MAKEINTRESOURCEW(IDC_CONSOLE);
    wc.lpszClassName = app.className;
    wc.hIconSm = LoadIconW(instance, MAKEINTRESOURCEW(IDI_CONSOLE_SMALL));
    // Without its class the window cannot be created: the operator gets the
    // same message as for a failed window.
    if (RegisterClassExW(&wc) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
        return creationFailed(app, L"ウィンドウを作成できません");
    return true;
}

bool createMainWindow(ConsoleApp& app) {
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_TAB_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    app.mainWindow = CreateWindowExW(0, app.className, app.title, WS_OVERLAPPEDWINDOW, 0, 0, kInitialWidth,
                                     kInitialHeight, nullptr, nullptr, app.instance, &app);
    if (!app.mainWindow)
        return creationFailed(app, L"ウィンドウを作成できません");
    int w = 0, h = 0;
    outerSize(app.mainWindow, &w, &h);
    int x = 0, y = 0;
    centredPosition(GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN), w, h, &x, &y);

    ControlPlacement at[kLaidOutControlCount];
    initialControls(h, at);
    for (int i = 0; i < kFrameCount; ++i) {
        app.frames[i] = createChild(app, L"button", kFrameTexts[i], BS_GROUPBOX, at[i], IDC_FRAME);
        if (!app.frames[i])
            return creationFailed(app, L"ウィンドウを作成できません");
    }
    app.csvCheckBox = createChild(app, L"BUTTON", L"CSV 出力", BS_AUTOCHECKBOX, at[13], IDC_CSV_CHECK_BOX);
    app.ipButton = createChild(app, L"BUTTON", L"IP 入力", BS_PUSHBUTTON, at[14], IDC_IP_BUTTON);
    if (!app.csvCheckBox || !app.ipButton)
        return creationFailed(app, L"ウィンドウを作成できません");

    app.images.font = createUiFont();
    if (!app.images.font) {
        MessageBoxW(nullptr, L"フォント作成エラー", kConsoleTitle, MB_OK);
        return false;
    }
    for (HWND control : app.frames)
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(app.images.font), FALSE);
    SendMessageW(app.csvCheckBox, WM_SETFONT, reinterpret_cast<WPARAM>(app.images.font), FALSE);
    SendMessageW(app.ipButton, WM_SETFONT, reinterpret_cast<WPARAM>(app.images.font), FALSE);

    SetWindowPos(app.mainWindow, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    SetWindowLongPtrW(app.mainWindow, GWL_STYLE,
                      GetWindowLongPtrW(app.mainWindow, GWL_STYLE) & ~WS_MAXIMIZEBOX);

    app.uiReady.store(1, std::memory_order_relaxed);

    app.tabControl = CreateWindowExW(
        0, WC_TABCONTROLW, L"", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, 0, 0, 10, 10, app.mainWindow,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_TAB_STRIP)), app.instance, nullptr);
    setTabLabel(app.panel, 0, kEmptyTabLabel);
    wchar_t text[kTabTextChars];
    tabText(kEmptyTabLabel, text);
    insertTabItem(app.tabControl, 0, text);
    SendMessageW(app.tabControl, WM_SETFONT, reinterpret_cast<WPARAM>(app.images.font), FALSE);
    installWindowCallbacks(app);
    return true;
}

void showMainWindow(ConsoleApp& app, int showCommand) {
    createPlotTemplates(app.images.templates);
    ShowWindow(app.mainWindow, showCommand);
    UpdateWindow(app.mainWindow);
}

void installWindowCallbacks(ConsoleApp& app) {
    app.windowCallbacks.context = &app;
    app.windowCallbacks.readTitle = readTitle;
    app.windowCallbacks.writeTitle = writeTitle;
    app.windowCallbacks.resetTabs = resetTabs;
}

void layoutMainWindow(ConsoleApp& app, int clientWidth) {
    if (!app.mainWindow)
        return;
    int w = 0, h = 0;
    outerSize(app.mainWindow, &w, &h);
    ControlPlacement at[kLaidOutControlCount];
    layoutControls(w, h, at);
    HWND controls[kLaidOutControlCount];
    for (int i = 0; i < kFrameCount; ++i)
        controls[i] = app.frames[i];
    controls[13] = app.csvCheckBox;
    controls[14] = app.ipButton;
    for (int i = 0; i < kLaidOutControlCount; ++i)
        if (controls[i])
            MoveWindow(controls[i], at[i].x, at[i].y, at[i].w, at[i].h, TRUE);
    InvalidateRect(app.mainWindow, nullptr, FALSE);
    UpdateWindow(app.mainWindow);
    if (app.tabControl) {
        ControlPlacement tab = tabPlacement(clientWidth);
        MoveWindow(app.tabControl, tab.x, tab.y, tab.w, tab.h, TRUE);
    }
}

void invalidatePlotAreas(ConsoleApp& app) {
    if (!app.mainWindow)
        return;
    int w = 0, h = 0;
    outerSize(app.mainWindow, &w, &h);
    PixelRect areas[kInvalidationRectCount];
    tickRepaintAreas(w, h, areas);
    // The meter and graph areas lie inside their frames, clear of borders and
    // captions, and so does the part of the readout area that the readout
    // can change: the frames need not paint again for them (each frame's
    // repaint cost more than the areas' own), and one region is one call to
    // the window system instead of thirteen. The rest of the readout area
    // (its frame's border, white window) never changes. The meters (areas
    // 0..5) and the readout are left alone while the screen already shows
    // what they would show; the graphs move every second.
    bool shown = meterAndReadoutContent(shownGpu(app).readings, plotGeometry(w, h).p) ==
                 app.meterAndReadoutShown.load();
    HRGN region = CreateRectRgn(0, 0, 0, 0);
    bool joined = region != nullptr;
    for (int i = 0; i < kInvalidationRectCount && joined; ++i) {
        if (shown && isMeterOrReadoutArea(i))
            continue;
        HRGN part = CreateRectRgn(areas[i].left, areas[i].top, areas[i].right, areas[i].bottom);
        joined = part && CombineRgn(region, region, part, RGN_OR) != ERROR;
        if (part)
            DeleteObject(part);
    }
    if (joined)
        RedrawWindow(app.mainWindow, nullptr, region, RDW_INVALIDATE | RDW_NOCHILDREN);
    if (region)
        DeleteObject(region);
    for (int i = joined ? kInvalidationRectCount : 0; i < kInvalidationRectCount; ++i) {
        RECT r = {areas[i].left, areas[i].top, areas[i].right, areas[i].bottom};
        RedrawWindow(app.mainWindow, &r, nullptr, RDW_INVALIDATE | RDW_NOCHILDREN);
    }
}

void syncGpuTab(ConsoleApp& app, int slot) {
    HWND tab = app.tabControl;
    int wanted = wantedTabCount(relaxed(app.panel.gpuCount));
    if (!tab || wanted == 0)
        return;
    char label[kTabLabelBytes];
    wchar_t text[kTabTextChars];
    copyTabLabel(app.panel, slot, label);
    tabText(label, text);
    uint32_t changed = app.tabsChanged.load();
    if (changed != app.tabsSeen || app.tabCountShown < 0) {
        app.tabsSeen = changed;
        app.tabCountShown = static_cast<int>(SendMessageW(tab, TCM_GETITEMCOUNT, 0, 0));
        for (auto& shown : app.tabTextShown)
            shown[0] = L'\0';
    }
    int count = app.tabCountShown;
    if (count != wanted) {
        for (auto& shown : app.tabTextShown)
            shown[0] = L'\0';
    }
    while (count < wanted) {
        insertTabItem(tab, count, text);
        ++count;
    }
    while (count > wanted) {
        SendMessageW(tab, TCM_DELETEITEM, count - 1, 0);
        --count;
    }
    app.tabCountShown = count;
    if (slot >= 0 && slot < count &&
        (app.tabTextShown[slot][0] == L'\0' || lstrcmpW(app.tabTextShown[slot], text) != 0)) {
        setTabItemText(tab, slot, text);
        lstrcpynW(app.tabTextShown[slot], text, kTabTextChars);
    }
}
