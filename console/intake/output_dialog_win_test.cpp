// Dialog 138 driven from a second thread while the test thread runs it modally.
#include "console/intake/csv_choices.h"
#include "console/intake/csv_dialogs_win.h"
#include "console/intake/csv_format.h"
#include "tests/support/own_dialog_win.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace {

std::vector<std::wstring> gMessages; // "caption|text"

void setCheck(HWND dialog, int id, bool on) {
    SendDlgItemMessageW(dialog, id, BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED, 0);
}

TEST(OutputDialog, EmptySelectionKeepsItOpenWithTheMessage) {
    GpuPanelState panel;
    CsvSettings csv;
    initGpuPanelState(panel);
    initCsvSettings(csv);
    store(panel.gpuCount, 3);
    OutputDialogContext context;
    context.panel = &panel;
    context.csv = &csv;
    // Called on the dialog's thread (the test thread) while the driver waits in SendMessage.
    context.showMessage = [](HWND, const wchar_t* text, const wchar_t* caption) {
        gMessages.push_back(std::wstring(caption) + L"|" + text);
    };
    std::vector<bool> open;
    std::thread driver([&] {
        HWND dialog = nullptr;
        for (int i = 0; i < 1000 && !(dialog = findOwnDialog(L"出力項目")); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ASSERT_NE(dialog, nullptr);
        // Nothing checked, then slot 2, Temperature and Power Draw every 30 seconds.
        for (bool choose : {false, true}) {
            for (int slot = 0; slot < kGpuSlotCount; ++slot)
                setCheck(dialog, kGpuCheckBoxIds[slot], choose && slot == 2);
            for (int k = 0; k < kCsvItemCount; ++k)
                setCheck(dialog, kCsvItems[k].checkBoxId,
                         choose && (k == int(CsvItem::Temperature) || k == int(CsvItem::PowerDraw)));
            SendDlgItemMessageW(dialog, kIntervalComboId, CB_SETCURSEL, 4, 0);
            SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(kOutputButtonId, BN_CLICKED),
                         reinterpret_cast<LPARAM>(GetDlgItem(dialog, kOutputButtonId)));
            open.push_back(IsWindow(dialog) && IsWindowVisible(dialog));
        }
    });
    showOutputDialog(GetModuleHandleW(nullptr), nullptr, context);
    driver.join();
    EXPECT_EQ(open, (std::vector<bool>{true, false}));
    EXPECT_EQ(gMessages,
              std::vector<std::wstring>{L"Kovra Gaugeline Console|"
                                        L"GPU\u306b1\u3064\u3082\u30c1\u30a7\u30c3\u30af\u304c\u5165"
                                        L"\u3063\u3066\u3044\u307e\u305b\u3093\n\u9805\u76ee\u306b1"
                                        L"\u3064\u3082\u30c1\u30a7\u30c3\u30af\u304c\u5165\u3063\u3066"
                                        L"\u3044\u307e\u305b\u3093"});
    std::string chosen =
        std::to_string(csv.logIntervalMs.load()) + " " + std::to_string(csv.csvDialogCancelled.load());
    for (const auto& flag : csv.csvGpuSelected)
        chosen += std::to_string(flag.load());
    for (const auto& flag : csv.csvItemSelected)
        chosen += std::to_string(flag.load());
    EXPECT_EQ(chosen, "30000 000100000000001001000"); // not cancelled, slot 2, Temperature, Power Draw
}

// Windows refuses, for UTF-8, any flag but WC_ERR_INVALID_CHARS and any
// default-character pointer; Wine's conversion accepts them.
int WINAPI toBytesWithWindowsRules(UINT codePage, DWORD flags, LPCWCH wide, int wideChars, LPSTR bytes,
                                   int byteCount, LPCCH defaultChar, LPBOOL usedDefault) {
    if (codePage == CP_UTF8 && ((flags & ~WC_ERR_INVALID_CHARS) != 0 || defaultChar || usedDefault)) {
        SetLastError((flags & ~WC_ERR_INVALID_CHARS) != 0 ? ERROR_INVALID_FLAGS : ERROR_INVALID_PARAMETER);
        return 0;
    }
    return WideCharToMultiByte(codePage, flags, wide, wideChars, bytes, byteCount, defaultChar, usedDefault);
}

TEST(CsvPathConversion, ExactFormInTheCodePageOrRefused) {
    const struct {
        UINT codePage;
        const wchar_t* name;
        const char* bytes; // nullptr: refused
    } cases[] = {
        {65001, L"C:\\logs\\gpu.csv", "C:\\logs\\gpu.csv"},
        {65001, L"C:\\\u30ed\u30b0\\gpu.csv", "C:\\\xe3\x83\xad\xe3\x82\xb0\\gpu.csv"},
        {65001, L"C:\\\xd800.csv", nullptr},
        {932, L"C:\\\u30ed\u30b0\\gpu.csv", "C:\\\x83\x8d\x83\x4f\\gpu.csv"},
        {932, L"C:\\Ren\u00e9\\gpu.csv", nullptr},
        {1252, L"C:\\Ren\u00e9\\gpu.csv", "C:\\Ren\xe9\\gpu.csv"},
        {1252, L"C:\\\u30ed\u30b0\\gpu.csv", nullptr},
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
