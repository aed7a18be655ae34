// Dialog 138 driven from a second thread while the test thread runs it modally.
#include "console/intake/logging/csv_choices.h"
#include "console/intake/logging/csv_dialogs_win.h"
#include "console/intake/logging/csv_format.h"
#include "tests/support/own_dialog_win.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace {

std::wstring gMessages; // "caption|text" of each message shown

TEST(OutputDialog, EmptySelectionKeepsItOpenWithTheMessage) {
    GpuPanelState panel;
    CsvSettings csv;
    initGpuPanelState(panel);
    initCsvSettings(csv);
    store(panel.gpuCount, 3);
    // Called on the dialog's thread (the test thread) while the driver waits in SendMessage.
    OutputDialogContext context{&panel, &csv, [](HWND, const wchar_t* text, const wchar_t* caption) {
                                    gMessages += caption + std::wstring(L"|") + text;
                                }};
    std::vector<bool> open;
    std::thread driver([&] {
        HWND dialog = waitForDialog(L"出力項目");
        ASSERT_NE(dialog, nullptr);
        // Nothing checked, then slot 2, Temperature and Power Draw every 30 seconds.
        for (bool choose : {false, true}) {
            for (int slot = 0; slot < kGpuSlotCount; ++slot)
                SendDlgItemMessageW(dialog, kGpuCheckBoxIds[slot], BM_SETCHECK, choose && slot == 2, 0);
            for (int k = 0; k < kCsvItemCount; ++k)
                SendDlgItemMessageW(
                    dialog, kCsvItems[k].checkBoxId, BM_SETCHECK,
                    choose && (k == int(CsvItem::Temperature) || k == int(CsvItem::PowerDraw)), 0);
            SendDlgItemMessageW(dialog, kIntervalComboId, CB_SETCURSEL, 4, 0);
            SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(kOutputButtonId, BN_CLICKED),
                         reinterpret_cast<LPARAM>(GetDlgItem(dialog, kOutputButtonId)));
            open.push_back(IsWindow(dialog) && IsWindowVisible(dialog));
        }
    });
    showOutputDialog(GetModuleHandleW(nullptr), nullptr, context);
    driver.join();
    EXPECT_EQ(open, (std::vector<bool>{true, false}));
    EXPECT_EQ(gMessages, L"Kovra Gaugeline Console|GPUに1つもチェックが入っていません\n"
                         L"項目に1つもチェックが入っていません");
    std::string chosen = std::to_string(csv.logIntervalMs.load()) + " ";
    for (const auto& flag : csv.csvGpuSelected)
        chosen += std::to_string(flag.load());
    for (const auto& flag : csv.csvItemSelected)
        chosen += std::to_string(flag.load());
    EXPECT_EQ(chosen, "30000 00100000000001001000"); // slot 2, Temperature, Power Draw
}

// Windows refuses, for UTF-8, any flag but WC_ERR_INVALID_CHARS and any
// default-character pointer; Wine's conversion accepts them.
int WINAPI toBytesWithWindowsRules(UINT codePage, DWORD flags, LPCWCH wide, int wideChars, LPSTR bytes,
                                   int byteCount, LPCCH defaultChar, LPBOOL usedDefault) {
    if (codePage == CP_UTF8 && ((flags & ~WC_ERR_INVALID_CHARS) != 0 || defaultChar || usedDefault))
        return 0;
    return WideCharToMultiByte(codePage, flags, wide, wideChars, bytes, byteCount, defaultChar, usedDefault);
}

TEST(CsvPathConversion, ExactFormInTheCodePageOrRefused) {
    const struct {
        UINT codePage;
        const wchar_t* name;
        const char* bytes; // nullptr: refused
    } cases[] = {
        {65001, L"C:\\\u30ed\u30b0\\gpu.csv", "C:\\\xe3\x83\xad\xe3\x82\xb0\\gpu.csv"},
        {65001, L"C:\\\xd800.csv", nullptr},
        {932, L"C:\\\u30ed\u30b0\\gpu.csv", "C:\\\x83\x8d\x83\x4f\\gpu.csv"},
        {932, L"C:\\Ren\u00e9\\gpu.csv", nullptr},
        {1252, L"C:\\Ren\u00e9\\gpu.csv", "C:\\Ren\xe9\\gpu.csv"},
        {1252, L"C:\\\u0100.csv", nullptr}, // has a best fit ('A') but no exact form
    };
    for (WideToMultiByteFn toBytes : {WideToMultiByteFn(WideCharToMultiByte), toBytesWithWindowsRules}) {
        for (const auto& c : cases) {
            char out[kCsvPathBytes] = "untouched";
            EXPECT_EQ(csvPathInCodePage(c.codePage, c.name, out, toBytes), c.bytes != nullptr) << c.codePage;
            EXPECT_STREQ(out, c.bytes ? c.bytes : "untouched") << c.codePage;
        }
    }
}

} // namespace
