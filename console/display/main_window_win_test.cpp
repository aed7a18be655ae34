// The real main window: creation, placement, layout at the size limits, tab
// strip, the intake's reset and tear-down.
#include "console/display/main_layout.h"
#include "console/display/main_window_win.h"
#include "console/intake/intake.h"
#include "tests/support/own_dialog_win.h"

#include <gtest/gtest.h>

#include <commctrl.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <string>
#include <thread>

namespace {

void pump() {
    MSG m;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&m);
        DispatchMessageW(&m);
    }
}

RECT childRect(HWND parent, HWND child) {
    RECT r;
    GetWindowRect(child, &r);
    MapWindowPoints(HWND_DESKTOP, parent, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

std::wstring windowText(HWND w) {
    wchar_t text[128] = {};
    GetWindowTextW(w, text, 128);
    return text;
}

std::wstring tabText(HWND tab, int index) {
    wchar_t text[64] = {};
    TCITEMW item = {};
    item.mask = TCIF_TEXT;
    item.pszText = text;
    item.cchTextMax = 64;
    SendMessageW(tab, TCM_GETITEMW, index, reinterpret_cast<LPARAM>(&item));
    return text;
}

int tabCount(HWND tab) {
    return static_cast<int>(SendMessageW(tab, TCM_GETITEMCOUNT, 0, 0));
}

class MainWindow : public ::testing::Test {
  protected:
    static std::unique_ptr<ConsoleApp> app;

    static void SetUpTestSuite() {
        app = std::make_unique<ConsoleApp>();
        app->appRunning.store(1);
        ASSERT_TRUE(registerConsoleClass(*app, GetModuleHandleW(nullptr)));
        ASSERT_TRUE(createMainWindow(*app));
        showMainWindow(*app, SW_SHOWNORMAL);
        pump();
    }
    static void TearDownTestSuite() {
        if (app && app->mainWindow && IsWindow(app->mainWindow))
            DestroyWindow(app->mainWindow);
        pump();
        app.reset();
    }
    void resize(int w, int h) {
        SetWindowPos(app->mainWindow, nullptr, 0, 0, w, h, SWP_NOMOVE | SWP_NOZORDER);
        pump();
    }
    void expectLayout() {
        RECT outer;
        GetWindowRect(app->mainWindow, &outer);
        int w = outer.right - outer.left, h = outer.bottom - outer.top;
        ControlPlacement at[kLaidOutControlCount];
        layoutControls(w, h, at);
        HWND controls[kLaidOutControlCount];
        for (int i = 0; i < kFrameCount; ++i)
            controls[i] = app->frames[i];
        controls[13] = app->csvCheckBox;
        controls[14] = app->ipButton;
        for (int i = 0; i < kLaidOutControlCount; ++i) {
            RECT r = childRect(app->mainWindow, controls[i]);
            EXPECT_EQ(r.left, at[i].x) << w << "x" << h << " control " << i + 1;
            EXPECT_EQ(r.top, at[i].y) << w << "x" << h << " control " << i + 1;
            EXPECT_EQ(r.right - r.left, at[i].w) << w << "x" << h << " control " << i + 1;
            EXPECT_EQ(r.bottom - r.top, at[i].h) << w << "x" << h << " control " << i + 1;
        }
        RECT client;
        GetClientRect(app->mainWindow, &client);
        RECT tab = childRect(app->mainWindow, app->tabControl);
        EXPECT_EQ(tab.left, 5);
        EXPECT_EQ(tab.top, 5);
        EXPECT_EQ(tab.right - tab.left, client.right);
        EXPECT_EQ(tab.bottom - tab.top, 20);
    }
};

std::unique_ptr<ConsoleApp> MainWindow::app;

} // namespace

TEST_F(MainWindow, OpensCentredAtTheSmallestSizeWithItsControls) {
    RECT r;
    GetWindowRect(app->mainWindow, &r);
    EXPECT_EQ(r.right - r.left, 900);
    EXPECT_EQ(r.bottom - r.top, 520);
    EXPECT_EQ(r.left, GetSystemMetrics(SM_CXSCREEN) / 2 - 450);
    EXPECT_EQ(r.top, GetSystemMetrics(SM_CYSCREEN) / 2 - 250);
    LONG_PTR style = GetWindowLongPtrW(app->mainWindow, GWL_STYLE);
    EXPECT_EQ(style & WS_MAXIMIZEBOX, 0);
    EXPECT_EQ(windowText(app->mainWindow), L"Kovra Gaugeline Console");
    EXPECT_EQ(app->uiReady.load(), 1);
    expectLayout();
    const wchar_t* texts[kFrameCount] = {L"Graphics Clock",
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
    for (int i = 0; i < kFrameCount; ++i)
        EXPECT_EQ(windowText(app->frames[i]), texts[i]);
    EXPECT_EQ(windowText(app->csvCheckBox), L"CSV 出力");
    EXPECT_EQ(windowText(app->ipButton), L"IP 入力");
    ASSERT_EQ(tabCount(app->tabControl), 1);
    EXPECT_EQ(tabText(app->tabControl, 0), L"- empty - (UNKNOWN 接続)");
}

TEST_F(MainWindow, LayoutFollowsResizingWithinTheLimits) {
    const int sizes[][4] = {
        // asked w, h -> outer w, h
        {1200, 900, 1200, 900},  {1000, 700, 1000, 700}, {900, 520, 900, 520},
        {2000, 2000, 1200, 900}, {300, 200, 900, 520},   {1201, 521, 1200, 521},
    };
    for (const auto& s : sizes) {
        resize(s[0], s[1]);
        RECT r;
        GetWindowRect(app->mainWindow, &r);
        EXPECT_EQ(r.right - r.left, s[2]) << s[0] << "x" << s[1];
        EXPECT_EQ(r.bottom - r.top, s[3]) << s[0] << "x" << s[1];
        expectLayout();
    }
    resize(900, 520);
}

TEST_F(MainWindow, TabStripFollowsTheGpuCountUpToEight) {
    HWND tab = app->tabControl;
    for (int count : {0, 3, 12, 2}) {
        store(app->panel.gpuCount, count);
        for (int i = 0; i < count; ++i) {
            setTabLabel(app->panel, i, ("GeForce " + std::to_string(i)).c_str());
            syncGpuTab(*app, i);
        }
        ASSERT_EQ(tabCount(tab), count == 0 ? 1 : std::min(count, 8)) << count;
        if (count > 0)
            EXPECT_EQ(tabText(tab, count == 12 ? 7 : count - 1),
                      L"GeForce " + std::to_wstring(count == 12 ? 7 : count - 1));
    }

    // Picking a tab makes every panel show that slot.
    SendMessageW(tab, TCM_SETCURSEL, 1, 0);
    NMHDR header = {tab, 16, static_cast<UINT>(TCN_SELCHANGE)};
    SendMessageW(app->mainWindow, WM_NOTIFY, 16, reinterpret_cast<LPARAM>(&header));
    EXPECT_EQ(shownSlot(*app), 1);

    // Deleting the selected tab keeps the shown slot.
    store(app->panel.gpuCount, 1);
    syncGpuTab(*app, 0);
    EXPECT_EQ(tabCount(tab), 1);
    EXPECT_EQ(app->selectedGpu.load(), 1);

    // The intake's reset goes back to one tab and slot 0.
    store(app->panel.gpuCount, 3);
    for (int i = 0; i < 3; ++i)
        syncGpuTab(*app, i);
    SetWindowTextW(app->mainWindow, L"Kovra Gaugeline Console ===> [Agent: 192.0.2.20] から接続");
    resetGpuPanelState(app->panel, app->hooks);
    EXPECT_EQ(tabCount(tab), 1);
    EXPECT_EQ(app->selectedGpu.load(), 0);
    EXPECT_EQ(tabText(tab, 0), L"- empty - (UNKNOWN 接続)");
    EXPECT_EQ(windowText(app->mainWindow), L"Kovra Gaugeline Console");
}

TEST(ConsoleEntry, FailedClassRegistrationShowsTheWindowMessage) {
    std::atomic<bool> done{false};
    std::wstring text;
    HWND owner = reinterpret_cast<HWND>(1);
    std::thread watcher([&] {
        while (!done.load()) {
            if (HWND box = findOwnDialog(L"Kovra Gaugeline Console")) {
                wchar_t buffer[100] = {};
                GetDlgItemTextW(box, 0xFFFF, buffer, 100);
                text = buffer;
                owner = GetWindow(box, GW_OWNER);
                PostMessageW(box, WM_COMMAND, IDOK, 0);
                return;
            }
            Sleep(20);
        }
    });
    auto app = std::make_unique<ConsoleApp>();
    app->appRunning.store(1);
    // The system registers no class for user32's own instance.
    EXPECT_FALSE(registerConsoleClass(*app, GetModuleHandleW(L"user32.dll")));
    done.store(true);
    watcher.join();
    EXPECT_EQ(text, L"ウィンドウを作成できません");
    EXPECT_EQ(owner, nullptr);
    EXPECT_EQ(app->appRunning.load(), 0);
}
