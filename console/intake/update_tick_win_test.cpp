// The tick thread with a real check box, save dialog, dialog 138, message
// boxes and text console under Wine, answered the way an operator would.
#include "console/display/console_app_win.h"
#include "console/intake/csv_choices.h"
#include "console/intake/csv_format.h"
#include "console/intake/update_tick.h"
#include "tests/support/own_dialog_win.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>

namespace fs = std::filesystem;

// The display's tick duties, counted here instead of drawn.
std::atomic<int32_t> gAdvanced{0};
std::atomic<int32_t> gTabsSynced{0};
std::atomic<int32_t> gGridSteps{0};
std::atomic<int32_t> gInvalidations{0};
void advanceHistories(ConsoleApp&, int) {
    gAdvanced.fetch_add(1);
}
void syncGpuTab(ConsoleApp&, int) {
    gTabsSynced.fetch_add(1);
}
void advanceGridPhase(ConsoleApp&) {
    gGridSteps.fetch_add(1);
}
void invalidatePlotAreas(ConsoleApp&) {
    gInvalidations.fetch_add(1);
}

namespace {

const wchar_t kSaveTitle[] = L"\u30d5\u30a1\u30a4\u30eb\u3092\u4fdd\u5b58"; // ファイルを保存
const wchar_t kItemsTitle[] = L"\u51fa\u529b\u9805\u76ee";                  // 出力項目

// Handles this thread's messages (the check box lives here) until done() or the limit.
bool pumpUntil(const std::function<bool()>& done, int limitMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
    return true;
}

HWND waitForWindow(const wchar_t* title) {
    HWND found = nullptr;
    pumpUntil(
        [&] {
            found = findOwnDialog(title);
            return found != nullptr;
        },
        20000);
    return found;
}

BOOL CALLBACK collectText(HWND child, LPARAM out) {
    wchar_t cls[32] = {};
    GetClassNameW(child, cls, 32);
    if (lstrcmpiW(cls, L"Static") == 0) {
        wchar_t text[256] = {};
        GetWindowTextW(child, text, 256);
        *reinterpret_cast<std::wstring*>(out) += text;
    }
    return TRUE;
}

std::wstring messageText(HWND box) {
    std::wstring text;
    EnumChildWindows(box, collectText, reinterpret_cast<LPARAM>(&text));
    return text;
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

int countLines(const std::string& text) {
    int n = 0;
    for (char c : text)
        n += c == '\n' ? 1 : 0;
    return n;
}

struct TickRun {
    ConsoleApp app;
    std::thread tick;
    std::atomic<bool> tickEnded{false};
    fs::path dir;

    TickRun() {
        // A windowed program has no console; this test program gives its own up.
        FreeConsole();
        app.instance = GetModuleHandleW(nullptr);
        app.mainWindow =
            CreateWindowExW(0, L"STATIC", L"Kovra Gaugeline Console", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0,
                            400, 200, nullptr, nullptr, app.instance, nullptr);
        app.csvCheckBox =
            CreateWindowExW(0, L"BUTTON", L"CSV \u51fa\u529b", WS_CHILD | WS_VISIBLE | BS_AUTOCHECKBOX, 10,
                            10, 80, 20, app.mainWindow, nullptr, app.instance, nullptr);
        initGpuPanelState(app.panel);
        initCsvSettings(app.csv);
        store(app.panel.gpuCount, 1);
        {
            std::lock_guard<std::mutex> lock(app.panel.textLock);
            wcscpy(app.panel.fullName[0], L"Example GPU");
        }
        store(app.panel.slots[0].temperature, 54);
        store(app.panel.slots[0].gpuLoad, 37);
        app.appRunning.store(1);
        app.uiReady.store(1);
        // A folder of its own per run: the save dialog makes the chosen folder
        // the current one, so an earlier run's folder may not be removable.
        dir = fs::temp_directory_path() / ("gaugeline_tick_" + std::to_string(GetCurrentProcessId()) + "_" +
                                           std::to_string(GetTickCount()));
        std::error_code ignored;
        fs::remove_all(dir, ignored);
        fs::create_directories(dir);
    }

    void start() {
        tick = std::thread([this] {
            runUpdateTick(app);
            tickEnded.store(true);
        });
    }

    void setBox(bool on) { SendMessageW(app.csvCheckBox, BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED, 0); }
    bool boxChecked() { return SendMessageW(app.csvCheckBox, BM_GETCHECK, 0, 0) == BST_CHECKED; }

    ~TickRun() {
        app.appRunning.store(0);
        if (tick.joinable()) {
            // The tick ends after its next pass, which asks this thread for the box.
            // A tick stuck in a dialog nobody answers (a failed case) is left to
            // the end of the process.
            if (pumpUntil([this] { return tickEnded.load(); }, 10000))
                tick.join();
            else
                tick.detach();
        }
        DestroyWindow(app.mainWindow);
        SetCurrentDirectoryW(fs::temp_directory_path().wstring().c_str());
        std::error_code ignored;
        fs::remove_all(dir, ignored);
    }
};

TEST(UpdateTick, CheckBoxDialogsRowsAndUncheck) {
    TickRun run;
    const fs::path file = run.dir / "gpu.csv";
    { std::ofstream(file, std::ios::binary) << "old\r\n"; } // the save dialog wants an existing file
    run.start();
    ASSERT_TRUE(pumpUntil([] { return gInvalidations.load() >= 1; }, 5000));
    EXPECT_GE(gAdvanced.load(), 1);
    EXPECT_GE(gTabsSynced.load(), 1);
    EXPECT_GE(gGridSteps.load(), 1);

    run.setBox(true);
    HWND save = waitForWindow(kSaveTitle);
    ASSERT_NE(save, nullptr);
    SetWindowTextW(GetDlgItem(save, 0x47c), file.wstring().c_str());
    PostMessageW(save, WM_COMMAND, IDOK, 0);

    HWND items = waitForWindow(kItemsTitle);
    ASSERT_NE(items, nullptr);
    for (const CsvItemInfo& item : kCsvItems)
        SendDlgItemMessageW(items, item.checkBoxId, BM_SETCHECK,
                            item.checkBoxId == 1005 || item.checkBoxId == 1002 ? BST_CHECKED : BST_UNCHECKED,
                            0);
    PostMessageW(GetDlgItem(items, kOutputButtonId), BM_CLICK, 0, 0);

    // Header (2 lines) after the old line, then rows about a second apart.
    ASSERT_TRUE(pumpUntil([&] { return countLines(readFile(file)) >= 1 + 2 + 2; }, 10000)) << readFile(file);
    const std::string text = readFile(file);
    EXPECT_EQ(text.rfind("old\r\nExample GPU\r\n,GPU Load,Temperature,\r\n", 0), 0u) << text;
    const size_t firstRow = text.find("\r\n", text.find(",Temperature,\r\n") + 1) + 2;
    const std::string row = text.substr(firstRow, text.find("\r\n", firstRow) + 2 - firstRow);
    EXPECT_EQ(row.size(), std::string("2026/12/06 21:00:00,37,54,\r\n").size()) << row;
    EXPECT_EQ(row.substr(19), ",37,54,\r\n") << row;
    EXPECT_TRUE(run.boxChecked());

    run.setBox(false);
    ASSERT_TRUE(pumpUntil([&] { return run.app.csv.csvLogging.load() == 0; }, 3000));
    pumpUntil([] { return false; }, 300); // the logging thread's last step
    const std::string stopped = readFile(file);
    pumpUntil([] { return false; }, 1500);
    EXPECT_EQ(readFile(file), stopped);
}

TEST(UpdateTick, CancelledSaveDialogShowsTheMessageAndUnchecks) {
    TickRun run;
    run.start();
    run.setBox(true);
    HWND save = waitForWindow(kSaveTitle);
    ASSERT_NE(save, nullptr);
    PostMessageW(save, WM_COMMAND, IDCANCEL, 0);
    HWND box = waitForWindow(L"Kovra Gaugeline");
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(messageText(box),
              L"CSV\u30d5\u30a1\u30a4\u30eb\u3092\u4fdd\u5b58\u3067\u304d\u307e\u305b\u3093");
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(pumpUntil([&] { return !run.boxChecked(); }, 3000));
    EXPECT_EQ(run.app.csv.csvLogging.load(), 0);
}

TEST(UpdateTick, PathWithSpaceIsRefused) {
    TickRun run;
    const fs::path spaced = run.dir / "my logs";
    fs::create_directories(spaced);
    const fs::path file = spaced / "gpu.csv";
    { std::ofstream(file, std::ios::binary) << ""; }
    run.start();
    run.setBox(true);
    HWND save = waitForWindow(kSaveTitle);
    ASSERT_NE(save, nullptr);
    SetWindowTextW(GetDlgItem(save, 0x47c), file.wstring().c_str());
    PostMessageW(save, WM_COMMAND, IDOK, 0);
    HWND items = waitForWindow(kItemsTitle);
    ASSERT_NE(items, nullptr);
    PostMessageW(GetDlgItem(items, kOutputButtonId), BM_CLICK, 0, 0);
    HWND box = waitForWindow(L"Kovra Gaugeline Console");
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(messageText(box),
              L"\u30d1\u30b9\u306b\u7a7a\u767d\u3092\u542b\u307e\u306a\u3044\u3067\u4e0b\u3055"
              L"\u3044");
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(pumpUntil([&] { return !run.boxChecked() && run.app.csv.csvLogging.load() == 0; }, 3000));
    EXPECT_EQ(readFile(file), "");
}

} // namespace
