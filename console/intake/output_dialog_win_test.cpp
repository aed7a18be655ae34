// Dialog 138 driven from a second thread while the test thread runs it modally.
#include "console/intake/csv_choices.h"
#include "console/intake/csv_dialogs_win.h"
#include "console/intake/csv_format.h"
#include "tests/support/own_dialog_win.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

std::mutex gMessagesLock;
std::vector<std::wstring> gMessages; // "caption|text"

void recordMessage(HWND owner, const wchar_t* text, const wchar_t* caption) {
    std::lock_guard<std::mutex> lock(gMessagesLock);
    gMessages.push_back(std::wstring(caption) + L"|" + text);
}

HWND findDialog() {
    for (int i = 0; i < 1000; ++i) {
        HWND dialog = findOwnDialog(L"出力項目");
        if (dialog)
            return dialog;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return nullptr;
}

std::wstring itemText(HWND dialog, int id) {
    wchar_t text[128] = {};
    GetDlgItemTextW(dialog, id, text, 128);
    return text;
}

bool checked(HWND dialog, int id) {
    return SendDlgItemMessageW(dialog, id, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void setCheck(HWND dialog, int id, bool on) {
    SendDlgItemMessageW(dialog, id, BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED, 0);
}

void press(HWND dialog, int id) {
    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

// What the driver saw, checked on the test thread afterwards: each GPU box as
// "text+e|" (+/- checked, e/d enabled), the item boxes, the combo box.
struct Seen {
    bool found = false;
    std::wstring gpus, items, combo;
    bool openAfterEmptyPress = false;
    bool openAfterGoodPress = true;
};

struct Fixture {
    GpuPanelState panel;
    CsvSettings csv;
    OutputDialogContext context;
    Fixture() {
        initGpuPanelState(panel);
        initCsvSettings(csv);
        context.panel = &panel;
        context.csv = &csv;
        context.showMessage = recordMessage;
        std::lock_guard<std::mutex> lock(gMessagesLock);
        gMessages.clear();
    }
    // Runs the dialog modally with driver running on a second thread.
    Seen run(const std::function<void(HWND, Seen&)>& driver) {
        Seen seen;
        std::thread thread([&] {
            HWND dialog = findDialog();
            seen.found = dialog != nullptr;
            if (dialog)
                driver(dialog, seen);
        });
        showOutputDialog(GetModuleHandleW(nullptr), nullptr, context);
        thread.join();
        return seen;
    }
};

void look(HWND dialog, Seen& seen) {
    for (int id : kGpuCheckBoxIds)
        seen.gpus += itemText(dialog, id) + (checked(dialog, id) ? L"+" : L"-") +
                     (IsWindowEnabled(GetDlgItem(dialog, id)) ? L"e|" : L"d|");
    for (const CsvItemInfo& item : kCsvItems)
        seen.items += itemText(dialog, item.checkBoxId) + (checked(dialog, item.checkBoxId) ? L"+," : L"-,");
    HWND combo = GetDlgItem(dialog, kIntervalComboId);
    for (int i = 0; i < SendMessageW(combo, CB_GETCOUNT, 0, 0); ++i) {
        wchar_t text[32] = {};
        SendMessageW(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
        seen.combo += text + std::wstring(L",");
    }
    seen.combo +=
        std::to_wstring(SendMessageW(combo, CB_GETCURSEL, 0, 0)) + L"," + itemText(dialog, kOutputButtonId);
}

TEST(OutputDialog, OpensWithDefaultsAndClosesWithThem) {
    const std::wstring off = L"-d|";
    const struct {
        int gpuCount;
        bool closeBox; // closed with the close box instead of "CSV出力"
        std::wstring gpus;
    } cases[] = {
        {2, false, L"GPU A (DP \u63a5\u7d9a)+e|GPU B+e|" + off + off + off + off + off + off},
        {0, false, L"- empty - (UNKNOWN \u63a5\u7d9a)+e|" + off + off + off + off + off + off + off},
        {12, true, L"GPU A (DP \u63a5\u7d9a)+e|GPU B+e|stale label+e|+e|+e|+e|+e|+e|"},
    };
    for (const auto& c : cases) {
        Fixture f;
        store(f.panel.gpuCount, c.gpuCount);
        if (c.gpuCount > 0) {
            setTabLabel(f.panel, 0, "GPU A (DP \x90\xda\x91\xb1)");
            setTabLabel(f.panel, 1, "GPU B");
            setTabLabel(f.panel, 2, "stale label");
        }
        f.csv.logIntervalMs.store(30000);
        const bool closeBox = c.closeBox;
        Seen seen = f.run([closeBox](HWND dialog, Seen& s) {
            look(dialog, s);
            if (closeBox)
                SendMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
            else
                press(dialog, kOutputButtonId);
            s.openAfterGoodPress = IsWindow(dialog) && IsWindowVisible(dialog);
        });
        ASSERT_TRUE(seen.found);
        EXPECT_EQ(seen.gpus, c.gpus);
        EXPECT_EQ(seen.items,
                  L"Graphics Clock+,Memory Clock+,GPU Load+,Memory Usage+,Video Engine Load+,"
                  L"Temperature+,FAN Level+,FAN rpm+,Power Draw+,P-State+,Memory Controller Load+,"
                  L"Bus Interface Load+,");
        EXPECT_EQ(seen.combo, L"1\u79d2,2\u79d2,5\u79d2,10\u79d2,30\u79d2,1\u5206,0,CSV\u51fa\u529b");
        EXPECT_FALSE(seen.openAfterGoodPress);
        EXPECT_EQ(f.csv.csvDialogCancelled.load(), c.closeBox ? 1 : 0);
        if (!c.closeBox) {
            // Closing with the defaults: the offered slots, every item, one second.
            EXPECT_EQ(f.csv.logIntervalMs.load(), 1000);
            for (int slot = 0; slot < kGpuSlotCount; ++slot)
                EXPECT_EQ(f.csv.csvGpuSelected[slot].load(), slot < std::max(c.gpuCount, 1) ? 1 : 0);
            for (int k = 0; k < kCsvItemCount; ++k)
                EXPECT_EQ(f.csv.csvItemSelected[k].load(), 1);
        }
        EXPECT_TRUE(gMessages.empty());
    }
}

TEST(OutputDialog, EmptySelectionKeepsItOpenWithTheMessage) {
    Fixture f;
    store(f.panel.gpuCount, 3);
    Seen seen = f.run([](HWND dialog, Seen& s) {
        for (int id : kGpuCheckBoxIds)
            setCheck(dialog, id, false);
        press(dialog, kOutputButtonId);
        for (const CsvItemInfo& item : kCsvItems)
            setCheck(dialog, item.checkBoxId, false);
        press(dialog, kOutputButtonId);
        s.openAfterEmptyPress = IsWindowVisible(dialog) != FALSE;
        // Then a real choice: slot 2, Temperature and Power Draw, 30 seconds.
        setCheck(dialog, kGpuCheckBoxIds[2], true);
        setCheck(dialog, kCsvItems[int(CsvItem::Temperature)].checkBoxId, true);
        setCheck(dialog, kCsvItems[int(CsvItem::PowerDraw)].checkBoxId, true);
        SendDlgItemMessageW(dialog, kIntervalComboId, CB_SETCURSEL, 4, 0);
        press(dialog, kOutputButtonId);
        s.openAfterGoodPress = IsWindow(dialog) && IsWindowVisible(dialog);
    });
    ASSERT_TRUE(seen.found);
    EXPECT_TRUE(seen.openAfterEmptyPress);
    EXPECT_FALSE(seen.openAfterGoodPress);
    const std::wstring noGpu = L"GPU\u306b1\u3064\u3082\u30c1\u30a7\u30c3\u30af\u304c\u5165\u3063\u3066\u3044"
                               L"\u307e\u305b\u3093";
    const std::wstring noItem =
        L"\u9805\u76ee\u306b1\u3064\u3082\u30c1\u30a7\u30c3\u30af\u304c\u5165\u3063\u3066"
        L"\u3044\u307e\u305b\u3093";
    ASSERT_EQ(gMessages.size(), 2u);
    EXPECT_EQ(gMessages[0], L"Kovra Gaugeline Console|" + noGpu + L"\n");
    EXPECT_EQ(gMessages[1], L"Kovra Gaugeline Console|" + noGpu + L"\n" + noItem);
    for (int slot = 0; slot < kGpuSlotCount; ++slot)
        EXPECT_EQ(f.csv.csvGpuSelected[slot].load(), slot == 2 ? 1 : 0) << slot;
    for (int k = 0; k < kCsvItemCount; ++k)
        EXPECT_EQ(f.csv.csvItemSelected[k].load(),
                  k == int(CsvItem::Temperature) || k == int(CsvItem::PowerDraw) ? 1 : 0)
            << k;
    EXPECT_EQ(f.csv.logIntervalMs.load(), 30000);
    EXPECT_EQ(f.csv.csvDialogCancelled.load(), 0);
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
