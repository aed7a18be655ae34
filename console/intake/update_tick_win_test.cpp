// The tick thread with a real check box, save dialog, dialog 138 and message
// boxes under Wine, answered the way an operator would.
#include "console/intake/csv_choices.h"
#include "tests/support/own_dialog_win.h"
#include "console/intake/update_tick_win.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>

namespace fs = std::filesystem;

namespace {

const wchar_t kSaveTitle[] = L"ファイルを保存";
const wchar_t kItemsTitle[] = L"出力項目";

// Handles this thread's messages (the check box lives here) until done() or the limit.
bool pumpUntil(const std::function<bool()>& done, int limitMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&msg);
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
    return true;
}

HWND waitForDialog(const wchar_t* title) {
    HWND found = nullptr;
    pumpUntil([&] { return (found = findOwnDialog(title)) != nullptr; }, 20000);
    return found;
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The tick over a window and check box of its own; the display's duties are counted.
struct TickRun {
    GpuPanelState panel;
    CsvSettings csv;
    std::atomic<int32_t> appRunning{1}, uiReady{1}, displayCalls{0}; // a bit per display duty
    UpdateTickLinks links;
    std::thread tick;
    std::atomic<bool> tickEnded{false};
    fs::path dir = fs::temp_directory_path() / ("gaugeline_tick_" + std::to_string(GetCurrentProcessId()) +
                                                "_" + std::to_string(GetTickCount()));

    TickRun() {
        FreeConsole(); // a windowed program has no console
        links.instance = GetModuleHandleW(nullptr);
        links.mainWindow =
            CreateWindowExW(0, L"STATIC", L"Kovra Gaugeline Console", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0,
                            400, 200, nullptr, nullptr, links.instance, nullptr);
        links.csvCheckBox =
            CreateWindowExW(0, L"BUTTON", L"CSV 出力", WS_CHILD | WS_VISIBLE | BS_AUTOCHECKBOX, 10, 10, 80,
                            20, links.mainWindow, nullptr, links.instance, nullptr);
        initGpuPanelState(panel);
        initCsvSettings(csv);
        store(panel.gpuCount, 1);
        links.panel = &panel;
        links.csv = &csv;
        links.appRunning = &appRunning;
        links.uiReady = &uiReady;
        links.display.context = &displayCalls;
        links.display.advanceHistories = [](void* n, int) { *static_cast<std::atomic<int32_t>*>(n) |= 1; };
        links.display.syncGpuTab = [](void* n, int) { *static_cast<std::atomic<int32_t>*>(n) |= 2; };
        links.display.advanceGridPhase = [](void* n) { *static_cast<std::atomic<int32_t>*>(n) |= 4; };
        links.display.invalidatePlotAreas = [](void* n) { *static_cast<std::atomic<int32_t>*>(n) |= 8; };
        // A folder of its own per run: the save dialog makes the chosen folder the current one.
        fs::create_directories(dir / "my logs");
        tick = std::thread([this] {
            runUpdateTick(links);
            tickEnded.store(true);
        });
    }

    // Checks the box and answers the save dialog with file (cancels it when
    // empty) and dialog 138 as it comes.
    void startLogging(const fs::path& file) {
        SendMessageW(links.csvCheckBox, BM_SETCHECK, BST_CHECKED, 0);
        HWND save = waitForDialog(kSaveTitle);
        ASSERT_NE(save, nullptr);
        if (file.empty()) {
            PostMessageW(save, WM_COMMAND, IDCANCEL, 0);
            return;
        }
        { std::ofstream(file, std::ios::binary) << "old\r\n"; } // the dialog wants an existing file
        SetWindowTextW(GetDlgItem(save, 0x47c), file.wstring().c_str());
        PostMessageW(save, WM_COMMAND, IDOK, 0);
        HWND items = waitForDialog(kItemsTitle);
        ASSERT_NE(items, nullptr);
        PostMessageW(GetDlgItem(items, kOutputButtonId), BM_CLICK, 0, 0);
    }
    bool boxChecked() { return SendMessageW(links.csvCheckBox, BM_GETCHECK, 0, 0) == BST_CHECKED; }

    ~TickRun() {
        appRunning.store(0);
        // The tick ends after its next pass, which asks this thread for the box;
        // a tick stuck in a dialog nobody answers (a failed case) is left to the process end.
        if (pumpUntil([this] { return tickEnded.load(); }, 10000))
            tick.join();
        else
            tick.detach();
        DestroyWindow(links.mainWindow);
        SetCurrentDirectoryW(fs::temp_directory_path().wstring().c_str());
        std::error_code ignored;
        fs::remove_all(dir, ignored);
    }
};

TEST(UpdateTick, RefusedStartShowsWhyAndUnchecks) {
    struct Case {
        bool cancelSave; // else a path with a space is chosen
        const wchar_t* caption;
        const wchar_t* text;
    };
    const Case cases[] = {
        {true, L"Kovra Gaugeline", L"CSVファイルを保存できません"},
        {false, L"Kovra Gaugeline Console", L"パスに空白を含まないで下さい"},
    };
    for (const Case& c : cases) {
        TickRun run;
        const fs::path file = c.cancelSave ? fs::path() : run.dir / "my logs" / "gpu.csv";
        run.startLogging(file);
        HWND box = waitForDialog(c.caption);
        ASSERT_NE(box, nullptr) << c.cancelSave;
        wchar_t text[100] = {};
        GetDlgItemTextW(box, 0xFFFF, text, 100);
        EXPECT_STREQ(text, c.text);
        PostMessageW(box, WM_COMMAND, IDOK, 0);
        EXPECT_TRUE(pumpUntil([&] { return !run.boxChecked() && run.csv.csvLogging.load() == 0; }, 3000));
        // The tick's pass goes on to the display's duties after the box.
        EXPECT_TRUE(pumpUntil([&] { return run.displayCalls.load() == 15; }, 3000));
        if (!c.cancelSave)
            EXPECT_EQ(readFile(file), "old\r\n");
    }
}

} // namespace
