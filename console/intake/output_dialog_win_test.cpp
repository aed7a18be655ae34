// Dialog 138 driven from a second thread while the test thread runs it modally.
#include "console/intake/csv_choices.h"
#include "console/intake/csv_dialogs_win.h"
#include "console/intake/csv_format.h"
#include "tests/support/own_dialog_win.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <iterator>
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

// What the driver saw, checked on the test thread afterwards.
struct Seen {
    bool found = false;
    std::wstring gpuText[kGpuSlotCount];
    bool gpuChecked[kGpuSlotCount] = {};
    bool gpuEnabled[kGpuSlotCount] = {};
    bool itemsChecked[kCsvItemCount] = {};
    std::wstring itemText[kCsvItemCount];
    std::vector<std::wstring> comboTexts;
    int comboSelection = -2;
    bool openAfterEmptyPress = false;
    bool openAfterGoodPress = true;
    std::wstring buttonText;
    RECT client = {};
    RECT clientWanted = {};
    std::vector<std::pair<RECT, RECT>> controls; // placed, wanted (pixels)
};

// Every control of dialog 138 with its place in dialog units.
const struct {
    int id;
    int x, y, w, h;
} kLayout[] = {
    {1013, 28, 24, 156, 10},  {1014, 189, 24, 140, 10}, {1015, 28, 40, 156, 10}, {1016, 189, 40, 139, 10},
    {1017, 28, 57, 156, 10},  {1018, 189, 57, 140, 10}, {1019, 28, 74, 156, 10}, {1020, 189, 74, 139, 10},
    {1000, 27, 116, 62, 10},  {1001, 188, 116, 60, 10}, {1002, 27, 132, 47, 10}, {1003, 188, 132, 63, 10},
    {1004, 27, 148, 74, 10},  {1005, 188, 148, 57, 10}, {1006, 27, 164, 48, 10}, {1007, 188, 164, 43, 10},
    {1008, 27, 180, 55, 10},  {1009, 188, 180, 40, 10}, {1021, 27, 197, 92, 10}, {1022, 188, 197, 77, 10},
    {1011, 188, 236, 60, 20},
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
    for (int slot = 0; slot < kGpuSlotCount; ++slot) {
        const int id = kGpuCheckBoxIds[slot];
        seen.gpuText[slot] = itemText(dialog, id);
        seen.gpuChecked[slot] = checked(dialog, id);
        seen.gpuEnabled[slot] = IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE;
    }
    for (int k = 0; k < kCsvItemCount; ++k) {
        seen.itemsChecked[k] = checked(dialog, kCsvItems[k].checkBoxId);
        seen.itemText[k] = itemText(dialog, kCsvItems[k].checkBoxId);
    }
    HWND combo = GetDlgItem(dialog, kIntervalComboId);
    const int count = static_cast<int>(SendMessageW(combo, CB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        wchar_t text[32] = {};
        SendMessageW(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
        seen.comboTexts.push_back(text);
    }
    seen.comboSelection = static_cast<int>(SendMessageW(combo, CB_GETCURSEL, 0, 0));
    seen.buttonText = itemText(dialog, kOutputButtonId);
    GetClientRect(dialog, &seen.client);
    seen.clientWanted = {0, 0, 348, 279};
    MapDialogRect(dialog, &seen.clientWanted);
    for (const auto& c : kLayout) {
        // Position and size are each converted from dialog units, as the dialog manager does.
        RECT wanted = {c.x, c.y, c.w, c.h};
        MapDialogRect(dialog, &wanted);
        RECT placed = {};
        GetWindowRect(GetDlgItem(dialog, c.id), &placed);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&placed), 2);
        placed.right -= placed.left;
        placed.bottom -= placed.top;
        seen.controls.push_back({placed, wanted});
    }
}

bool sameRect(const RECT& a, const RECT& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

TEST(OutputDialog, OpensWithDefaultsForTwoGpus) {
    Fixture f;
    store(f.panel.gpuCount, 2);
    setTabLabel(f.panel, 0, "GPU A (DP \x90\xda\x91\xb1)");
    setTabLabel(f.panel, 1, "GPU B");
    setTabLabel(f.panel, 2, "stale label");
    f.csv.logIntervalMs.store(30000);
    Seen seen = f.run([](HWND dialog, Seen& s) {
        look(dialog, s);
        press(dialog, kOutputButtonId);
        s.openAfterGoodPress = IsWindow(dialog) && IsWindowVisible(dialog);
    });
    ASSERT_TRUE(seen.found);
    EXPECT_EQ(seen.gpuText[0], L"GPU A (DP \u63a5\u7d9a)");
    EXPECT_EQ(seen.gpuText[1], L"GPU B");
    EXPECT_EQ(seen.gpuText[2], L"");
    for (int slot = 0; slot < kGpuSlotCount; ++slot) {
        EXPECT_EQ(seen.gpuChecked[slot], slot < 2) << slot;
        EXPECT_EQ(seen.gpuEnabled[slot], slot < 2) << slot;
    }
    for (int k = 0; k < kCsvItemCount; ++k) {
        EXPECT_TRUE(seen.itemsChecked[k]) << k;
        EXPECT_EQ(seen.itemText[k], std::wstring(kCsvItems[k].dialogText,
                                                 kCsvItems[k].dialogText + strlen(kCsvItems[k].dialogText)));
    }
    EXPECT_EQ(seen.comboTexts, (std::vector<std::wstring>{L"1\u79d2", L"2\u79d2", L"5\u79d2", L"10\u79d2",
                                                          L"30\u79d2", L"1\u5206"}));
    EXPECT_EQ(seen.comboSelection, 0);
    EXPECT_EQ(seen.buttonText, L"CSV\u51fa\u529b");
    EXPECT_TRUE(sameRect(seen.client, seen.clientWanted));
    ASSERT_EQ(seen.controls.size(), std::size(kLayout));
    for (size_t i = 0; i < seen.controls.size(); ++i)
        EXPECT_TRUE(sameRect(seen.controls[i].first, seen.controls[i].second))
            << kLayout[i].id << ": " << seen.controls[i].first.left << "," << seen.controls[i].first.top
            << "," << seen.controls[i].first.right << "," << seen.controls[i].first.bottom << " wanted "
            << seen.controls[i].second.left << "," << seen.controls[i].second.top << ","
            << seen.controls[i].second.right << "," << seen.controls[i].second.bottom;
    EXPECT_FALSE(seen.openAfterGoodPress);
    // Closing with the defaults: slots 0 and 1, every item, one second.
    EXPECT_EQ(f.csv.logIntervalMs.load(), 1000);
    for (int slot = 0; slot < kGpuSlotCount; ++slot)
        EXPECT_EQ(f.csv.csvGpuSelected[slot].load(), slot < 2 ? 1 : 0);
    for (int k = 0; k < kCsvItemCount; ++k)
        EXPECT_EQ(f.csv.csvItemSelected[k].load(), 1);
    EXPECT_EQ(f.csv.csvDialogCancelled.load(), 0);
    EXPECT_TRUE(gMessages.empty());
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
        setCheck(dialog, kCsvItems[static_cast<int>(CsvItem::Temperature)].checkBoxId, true);
        setCheck(dialog, kCsvItems[static_cast<int>(CsvItem::PowerDraw)].checkBoxId, true);
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
        EXPECT_EQ(f.csv.csvItemSelected[k].load(), k == static_cast<int>(CsvItem::Temperature) || k == static_cast<int>(CsvItem::PowerDraw) ? 1 : 0) << k;
    EXPECT_EQ(f.csv.logIntervalMs.load(), 30000);
    EXPECT_EQ(f.csv.csvDialogCancelled.load(), 0);
}

TEST(OutputDialog, CloseBoxCancels) {
    Fixture f;
    store(f.panel.gpuCount, 1);
    Seen seen = f.run([](HWND dialog, Seen&) { SendMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0); });
    ASSERT_TRUE(seen.found);
    EXPECT_NE(f.csv.csvDialogCancelled.load(), 0);
    EXPECT_TRUE(gMessages.empty());
}

TEST(OutputDialog, NoGpuStillOffersSlotZero) {
    Fixture f;
    // gpuCount 0 as at start-up: slot 0 shows "- empty - (UNKNOWN 接続)".
    Seen seen = f.run([](HWND dialog, Seen& s) {
        look(dialog, s);
        press(dialog, kOutputButtonId);
    });
    ASSERT_TRUE(seen.found);
    EXPECT_EQ(seen.gpuText[0], L"- empty - (UNKNOWN \u63a5\u7d9a)");
    EXPECT_TRUE(seen.gpuChecked[0]);
    EXPECT_TRUE(seen.gpuEnabled[0]);
    for (int slot = 1; slot < kGpuSlotCount; ++slot) {
        EXPECT_FALSE(seen.gpuChecked[slot]);
        EXPECT_FALSE(seen.gpuEnabled[slot]);
    }
    EXPECT_EQ(f.csv.csvGpuSelected[0].load(), 1);
}

TEST(OutputDialog, GpuCountAboveEightEnablesEveryBox) {
    Fixture f;
    store(f.panel.gpuCount, 12);
    Seen seen = f.run([](HWND dialog, Seen& s) {
        look(dialog, s);
        SendMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    });
    ASSERT_TRUE(seen.found);
    for (int slot = 0; slot < kGpuSlotCount; ++slot)
        EXPECT_TRUE(seen.gpuEnabled[slot] && seen.gpuChecked[slot]) << slot;
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
