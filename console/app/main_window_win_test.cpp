// The real main window with the program's own resources linked in: creation,
// placement, layout at the size limits, tab strip, the intake's reset, the IP
// input dialog's failure messages.
#include "console/app/main_window_win.h"
#include "console/display/main_layout.h"
#include "console/intake/link/agent_connection_win.h"
#include "console/intake/link/intake.h"
#include "net/tcp.h"
#include "tests/support/close_listener.h"
#include "tests/support/own_dialog_win.h"

#include <gtest/gtest.h>

#include <commctrl.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

// Every tab's label, each followed by '|'.
std::wstring tabs(HWND tab) {
    std::wstring all;
    for (int i = 0; i < SendMessageW(tab, TCM_GETITEMCOUNT, 0, 0); ++i) {
        wchar_t text[64] = {};
        TCITEMW item = {};
        item.mask = TCIF_TEXT;
        item.pszText = text;
        item.cchTextMax = 64;
        SendMessageW(tab, TCM_GETITEMW, i, reinterpret_cast<LPARAM>(&item));
        all += std::wstring(text) + L"|";
    }
    return all;
}

} // namespace

TEST(MainWindow, OpensLaysOutFollowsTheGpuCountAndFailsToConnect) {
    const uint16_t port = 29991; // the Console listens on a port of the test's own
    auto app = std::make_unique<ConsoleApp>();
    app->appRunning.store(1);
    app->listener.bindAddress = "127.0.0.1";
    app->listener.port = port;
    ASSERT_TRUE(registerConsoleClass(*app, GetModuleHandleW(nullptr)));
    initConsoleState(*app);
    ASSERT_TRUE(createMainWindow(*app));
    showMainWindow(*app, SW_SHOWNORMAL);
    pumpMessages();
    HWND window = app->mainWindow, tab = app->tabControl;
    RECT r;
    GetWindowRect(window, &r);
    EXPECT_EQ(r.left, GetSystemMetrics(SM_CXSCREEN) / 2 - 450);
    EXPECT_EQ(r.top, GetSystemMetrics(SM_CYSCREEN) / 2 - 250);
    EXPECT_EQ(GetWindowLongPtrW(window, GWL_STYLE) & WS_MAXIMIZEBOX, 0);
    // Resizing keeps the limits and lays the controls out again (the button's y).
    const int sizes[][5] = {{0, 0, 900, 520, 382},
                            {2000, 2000, 1200, 900, 762},
                            {300, 200, 900, 520, 382},
                            {1201, 521, 1200, 521, 383}};
    for (const auto& s : sizes) {
        if (s[0] != 0)
            SetWindowPos(window, nullptr, 0, 0, s[0], s[1], SWP_NOMOVE | SWP_NOZORDER);
        pumpMessages();
        RECT button;
        GetWindowRect(window, &r);
        GetWindowRect(app->ipButton, &button);
        MapWindowPoints(HWND_DESKTOP, window, reinterpret_cast<POINT*>(&button), 2);
        EXPECT_EQ((std::vector<int>{r.right - r.left, r.bottom - r.top, static_cast<int>(button.top)}),
                  (std::vector<int>{s[2], s[3], s[4]}));
    }
    EXPECT_EQ(tabs(tab), L"- empty - (UNKNOWN 接続)|");
    for (int count : {3, 12, 2}) {
        store(app->panel.gpuCount, count);
        std::wstring want;
        for (int i = 0; i < count; ++i) {
            setTabLabel(app->panel, i, ("GeForce " + std::to_string(i)).c_str());
            syncGpuTab(*app, i);
            want += i < 8 ? L"GeForce " + std::to_wstring(i) + L"|" : L"";
        }
        EXPECT_EQ(tabs(tab), want) << count;
    }
    // Picking a tab makes every panel show that slot.
    SendMessageW(tab, TCM_SETCURSEL, 1, 0);
    NMHDR header = {tab, 16, static_cast<UINT>(TCN_SELCHANGE)};
    SendMessageW(window, WM_NOTIFY, 16, reinterpret_cast<LPARAM>(&header));
    EXPECT_EQ(shownSlot(*app), 1);
    // With the port taken, "接続" says so over the dialog and keeps it open;
    // then empty boxes fail and the intake's reset brings back one tab, slot 0
    // and the bare title.
    SetWindowTextW(window, L"Kovra Gaugeline Console ===> [Agent: 192.0.2.20] から接続");
    setAgentAddress(app->panel, "192.0.2.20");
    netStartup();
    TcpSocket other = tcpListen("127.0.0.1", port, 1);
    ASSERT_NE(other, kNoSocket);
    // Each message box's caption and text, whether the dialog stays open and
    // the address the Console keeps after it, joined by '|'.
    std::wstring seen;
    std::thread driver([&] {
        HWND dialog = waitForDialog(L"IP 入力画面");
        for (int attempt = 0; dialog != nullptr && attempt < 2; ++attempt) {
            PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(kConnectButtonId, BN_CLICKED),
                         reinterpret_cast<LPARAM>(GetDlgItem(dialog, kConnectButtonId)));
            HWND box = waitForDialog(nullptr, dialog);
            if (box == nullptr)
                return;
            seen += windowText(box) + L"|" + windowText(GetDlgItem(box, 0xFFFF)) + L"|";
            PostMessageW(box, WM_COMMAND, IDOK, 0);
            if (attempt == 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(500));
                char address[kAddressTextMax + 1];
                copyAgentAddress(app->panel, address);
                seen += (IsWindowVisible(dialog) ? L"open|" : L"closed|") +
                        std::wstring(address, address + std::strlen(address));
                tcpClose(other);
            }
        }
    });
    SendMessageW(app->ipButton, BM_CLICK, 0, 0);
    driver.join();
    EXPECT_EQ(seen, L"Kovra Gaugeline|ポート 58680 を受信に使えません|open|192.0.2.20"
                    L"Kovra Gaugeline Console|接続出来ませんでした|");
    EXPECT_EQ(findOwnDialog(L"IP 入力画面"), nullptr);
    char address[kAddressTextMax + 1];
    copyAgentAddress(app->panel, address);
    EXPECT_STREQ(address, "");
    EXPECT_EQ(relaxed(app->panel.gpuCount), 1);
    EXPECT_EQ(tabs(tab), L"- empty - (UNKNOWN 接続)|");
    EXPECT_EQ(app->selectedGpu.load(), 0);
    EXPECT_EQ(windowText(window), L"Kovra Gaugeline Console");
    closeListener(app->listener);
    netCleanup();
    DestroyWindow(window);
    pumpMessages();
}
