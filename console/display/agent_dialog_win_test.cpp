// The IP input dialog over the real main window, with the program's own
// resources linked in: layout of the boxes, the failure message and its owner.
#include "console/display/main_window_win.h"
#include "console/intake/agent_connection_win.h"
#include "console/intake/intake.h"
#include "net/tcp.h"
#include "tests/support/own_dialog_win.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

namespace {

std::wstring textOf(HWND w) {
    wchar_t text[128] = {};
    GetWindowTextW(w, text, 128);
    return text;
}

HWND waitForDialog(const wchar_t* caption, int timeoutMs) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < end) {
        // Other test programs may show the same dialog at the same time.
        if (HWND w = findOwnDialog(caption))
            return w;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return nullptr;
}

// A message box (or any dialog) owned by owner.
HWND waitForOwned(HWND owner, int timeoutMs) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < end) {
        HWND w = nullptr;
        while ((w = FindWindowExW(nullptr, w, L"#32770", nullptr)) != nullptr)
            if (IsWindowVisible(w) && GetWindow(w, GW_OWNER) == owner)
                return w;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return nullptr;
}

// The main window on screen; the Console listens on a port of the test's own.
std::unique_ptr<ConsoleApp> showConsole(uint16_t listenPort) {
    auto app = std::make_unique<ConsoleApp>();
    app->appRunning.store(1);
    app->listener.bindAddress = "127.0.0.1";
    app->listener.port = listenPort;
    if (!registerConsoleClass(*app, GetModuleHandleW(nullptr)) || !createMainWindow(*app))
        return nullptr;
    showMainWindow(*app, SW_SHOWNORMAL);
    return app;
}

struct DialogObservation {
    bool dialogSeen = false;
    std::wstring groupText;
    int limits[4] = {};
    bool digitsOnly[4] = {};
    std::wstring buttonText;
    bool messageSeen = false;
    std::wstring messageText;
    bool messageOwnedByDialog = false;
    int32_t reconnectDuringPause = -1;
};

} // namespace

TEST(AgentDialog, EmptyBoxesEndInTheFailureMessageOverTheDialog) {
    auto app = showConsole(46830);
    ASSERT_TRUE(app);
    EXPECT_EQ(std::wstring(app->title), L"Kovra Gaugeline Console");
    EXPECT_EQ(std::wstring(app->className), L"KOVRAGAUGELINECONSOLE");
    store(app->panel.gpuCount, 4);
    setAgentAddress(app->panel, "192.0.2.20");

    DialogObservation seen;
    std::thread driver([&] {
        HWND dialog = waitForDialog(L"IP 入力画面", 30000);
        if (!dialog)
            return;
        seen.dialogSeen = true;
        for (int i = 0; i < 4; ++i) {
            HWND box = GetDlgItem(dialog, kAddressBoxIds[i]);
            seen.limits[i] = static_cast<int>(SendMessageW(box, EM_GETLIMITTEXT, 0, 0));
            seen.digitsOnly[i] = (GetWindowLongPtrW(box, GWL_STYLE) & ES_NUMBER) != 0;
        }
        seen.buttonText = textOf(GetDlgItem(dialog, kConnectButtonId));
        PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(kConnectButtonId, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(dialog, kConnectButtonId)));
        std::this_thread::sleep_for(std::chrono::milliseconds(1000));
        seen.reconnectDuringPause = relaxed(app->panel.reconnectRequested);
        HWND box = waitForDialog(L"Kovra Gaugeline Console", 30000);
        if (!box)
            return;
        seen.messageSeen = true;
        seen.messageText = textOf(GetDlgItem(box, 0xFFFF));
        seen.messageOwnedByDialog = GetWindow(box, GW_OWNER) == dialog;
        PostMessageW(box, WM_COMMAND, IDOK, 0);
    });
    auto start = std::chrono::steady_clock::now();
    SendMessageW(app->ipButton, BM_CLICK, 0, 0);
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    driver.join();

    ASSERT_TRUE(seen.dialogSeen);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(seen.limits[i], 3) << i;
        EXPECT_TRUE(seen.digitsOnly[i]) << i;
    }
    EXPECT_EQ(seen.buttonText, L"接続");
    EXPECT_EQ(seen.reconnectDuringPause, 1);
    ASSERT_TRUE(seen.messageSeen);
    EXPECT_EQ(seen.messageText, L"接続出来ませんでした");
    EXPECT_TRUE(seen.messageOwnedByDialog);
    EXPECT_GE(seconds, 2.0);
    // The dialog is gone, the address forgotten, the readings reset.
    EXPECT_EQ(findOwnDialog(L"IP 入力画面"), nullptr);
    char address[kAddressTextMax + 1];
    copyAgentAddress(app->panel, address);
    EXPECT_STREQ(address, "");
    EXPECT_EQ(relaxed(app->panel.gpuCount), 1);
    EXPECT_EQ(relaxed(app->panel.reconnectRequested), 0);
    EXPECT_EQ(textOf(app->mainWindow), L"Kovra Gaugeline Console");
    DestroyWindow(app->mainWindow);
    closeListener(app->listener);
}

TEST(AgentDialog, PortTakenShowsWhyOverTheDialogAndKeepsItOpen) {
    const uint16_t port = 46831;
    auto app = showConsole(port);
    ASSERT_TRUE(app);
    setAgentAddress(app->panel, "192.0.2.20");
    netStartup();
    TcpSocket other = tcpListen("127.0.0.1", port, 1);
    ASSERT_NE(other, kNoSocket);

    std::wstring caption, text;
    bool openAfterOk = false;
    std::thread driver([&] {
        HWND dialog = waitForDialog(L"IP 入力画面", 30000);
        if (!dialog)
            return;
        PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(kConnectButtonId, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(dialog, kConnectButtonId)));
        HWND box = waitForOwned(dialog, 30000);
        if (box) {
            caption = textOf(box);
            text = textOf(GetDlgItem(box, 0xFFFF));
            PostMessageW(box, WM_COMMAND, IDOK, 0);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        openAfterOk = IsWindow(dialog) && IsWindowVisible(dialog);
        PostMessageW(dialog, WM_CLOSE, 0, 0);
    });
    SendMessageW(app->ipButton, BM_CLICK, 0, 0);
    driver.join();

    EXPECT_EQ(caption, L"Kovra Gaugeline");
    EXPECT_EQ(text, L"ポート 58680 を受信に使えません");
    EXPECT_TRUE(openAfterOk);
    // Nothing was asked of anyone: the typed address stays.
    char address[kAddressTextMax + 1];
    copyAgentAddress(app->panel, address);
    EXPECT_STREQ(address, "192.0.2.20");
    DestroyWindow(app->mainWindow);
    tcpClose(other);
    netCleanup();
}

TEST(AgentDialog, ProgramResourcesArePresent) {
    const struct {
        int id;
        LPSTR type;
    } resources[] = {{IDI_CONSOLE_LARGE, RT_GROUP_ICON},
                     {IDI_CONSOLE_SMALL, RT_GROUP_ICON},
                     {IDC_CONSOLE, RT_ACCELERATOR},
                     {IDD_AGENT_ADDRESS, RT_DIALOG},
                     {IDD_CSV_ITEMS, RT_DIALOG},
                     {1, RT_MANIFEST},
                     {1, RT_VERSION}};
    for (const auto& r : resources)
        EXPECT_NE(FindResourceA(GetModuleHandleW(nullptr), MAKEINTRESOURCEA(r.id), r.type), nullptr) << r.id;
}
