#include "console/intake/logging/csv_dialogs_win.h"

#include "console/intake/logging/csv_choices.h"
#include "console/intake/logging/csv_format.h"
#include "protocol/text_cp932.h"

#include <commdlg.h>

#include <cstring>
#include <cwchar>

const wchar_t kCsvSaveCaption[] = L"Kovra Gaugeline";

void standardMessageBox(HWND owner, const wchar_t* text, const wchar_t* caption) {
    MessageBoxW(owner, text, caption, MB_OK);
}

namespace {

void initOutputDialog(HWND dialog, const OutputDialogContext& context) {
    const int gpuCount = usableGpuCount(*context.panel);
    for (int slot = 0; slot < kGpuSlotCount; ++slot) {
        const GpuBoxDefault box = gpuBoxDefault(slot, gpuCount);
        const int id = kGpuCheckBoxIds[slot];
        if (box.setText) {
            char label[kTabLabelBytes];
            copyTabLabel(*context.panel, slot, label);
            wchar_t text[kTabLabelBytes + 1];
            cp932ToWide(label, kTabLabelBytes, text, kTabLabelBytes + 1);
            SetDlgItemTextW(dialog, id, text);
        }
        CheckDlgButton(dialog, id, box.checked ? BST_CHECKED : BST_UNCHECKED);
        EnableWindow(GetDlgItem(dialog, id), box.enabled ? TRUE : FALSE);
    }
    for (const CsvItemInfo& item : kCsvItems)
        CheckDlgButton(dialog, item.checkBoxId, BST_CHECKED);
    HWND combo = GetDlgItem(dialog, kIntervalComboId);
    for (const LogIntervalChoice& choice : kLogIntervalChoices)
        SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(choice.text));
    SendMessageW(combo, CB_SETCURSEL, 0, 0);
}

void answerOutputDialog(HWND dialog, const OutputDialogContext& context) {
    OutputDialogAnswer answer;
    for (int slot = 0; slot < kGpuSlotCount; ++slot)
        answer.gpuChecked[slot] = IsDlgButtonChecked(dialog, kGpuCheckBoxIds[slot]) == BST_CHECKED;
    for (int k = 0; k < kCsvItemCount; ++k)
        answer.itemChecked[k] = IsDlgButtonChecked(dialog, kCsvItems[k].checkBoxId) == BST_CHECKED;
    answer.intervalIndex =
        static_cast<int>(SendDlgItemMessageW(dialog, kIntervalComboId, CB_GETCURSEL, 0, 0));
    const std::wstring message = applyOutputAnswer(*context.csv, answer);
    if (message.empty()) {
        EndDialog(dialog, kOutputButtonId);
        return;
    }
    context.showMessage(dialog, message.c_str(), kConsoleTitle);
}

void cancelOutputDialog(HWND dialog, const OutputDialogContext& context) {
    context.csv->csvDialogCancelled.store(1, std::memory_order_relaxed);
    EndDialog(dialog, IDCANCEL);
}

} // namespace

INT_PTR CALLBACK runOutputDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrW(dialog, DWLP_USER, lParam);
        initOutputDialog(dialog, *reinterpret_cast<OutputDialogContext*>(lParam));
        return TRUE;
    }
    auto* context = reinterpret_cast<OutputDialogContext*>(GetWindowLongPtrW(dialog, DWLP_USER));
    if (!context)
        return FALSE;
    switch (message) {
    case WM_COMMAND:
        if (LOWORD(wParam) == kOutputButtonId && HIWORD(wParam) == BN_CLICKED) {
            answerOutputDialog(dialog, *context);
            return TRUE;
        }
        // The close box (and Escape) arrive as IDCANCEL.
        if (LOWORD(wParam) == IDCANCEL) {
            cancelOutputDialog(dialog, *context);
            return TRUE;
        }
        return FALSE;
    case WM_CLOSE:
        cancelOutputDialog(dialog, *context);
        return TRUE;
    default:
        return FALSE;
    }
}

void showOutputDialog(HINSTANCE instance, HWND owner, OutputDialogContext& context) {
    DialogBoxParamW(instance, MAKEINTRESOURCEW(kOutputDialogId), owner, runOutputDialog,
                    reinterpret_cast<LPARAM>(&context));
}

bool chooseCsvFile(HWND owner, char path[kCsvPathBytes]) {
    wchar_t file[kCsvPathBytes] = {};
    path[kCsvPathBytes - 1] = '\0';
    if (path[0] != '\0' && MultiByteToWideChar(CP_ACP, 0, path, -1, file, kCsvPathBytes) == 0)
        file[0] = L'\0';

    OPENFILENAMEW ofn = {};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = owner;
    ofn.lpstrFilter = L"CSV(*.csv)\0*.csv\0";
    ofn.lpstrFile = file;
    ofn.nMaxFile = kCsvPathBytes;
    ofn.lpstrTitle = L"ファイルを保存";
    ofn.Flags = 0x1000; // OFN_FILEMUSTEXIST
    ofn.lpstrDefExt = L"cfg";
    if (!GetSaveFileNameW(&ofn))
        return false;

    return csvPathInCodePage(CP_ACP, file, path);
}

bool csvPathInCodePage(UINT codePage, const wchar_t* name, char out[kCsvPathBytes],
                       WideToMultiByteFn toBytes) {
    // No flags and no default-character pointers, which UTF-8 refuses; the
    // name is exact when it converts back unchanged (no '?', no best fit).
    char chosen[kCsvPathBytes];
    if (toBytes(codePage, 0, name, -1, chosen, kCsvPathBytes, nullptr, nullptr) == 0)
        return false;
    wchar_t back[kCsvPathBytes];
    if (MultiByteToWideChar(codePage, 0, chosen, -1, back, kCsvPathBytes) == 0 || wcscmp(back, name) != 0)
        return false;
    memcpy(out, chosen, kCsvPathBytes);
    return true;
}
