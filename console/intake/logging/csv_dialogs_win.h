// The two dialogs that start CSV logging: the save-file dialog and dialog 138.
#pragma once
#include "console/intake/link/panel_state.h"
#include "console/intake/logging/csv_settings.h"

#include <windows.h>

// Shows a message box (text, caption, OK) owned by owner; tests put in a recorder.
using LoggingMessageBox = void (*)(HWND owner, const wchar_t* text, const wchar_t* caption);
void standardMessageBox(HWND owner, const wchar_t* text, const wchar_t* caption);

extern const wchar_t kCsvSaveCaption[]; // "Kovra Gaugeline"

// What dialog 138 works on; given as the dialog's creation parameter.
struct OutputDialogContext {
    const GpuPanelState* panel = nullptr;
    CsvSettings* csv = nullptr;
    LoggingMessageBox showMessage = standardMessageBox;
};

// Dialog procedure of resource 138.
INT_PTR CALLBACK runOutputDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Dialog 138, modal, owned by owner; returns when it is closed.
void showOutputDialog(HINSTANCE instance, HWND owner, OutputDialogContext& context);

// The save-file dialog ("ファイルを保存", filter "CSV(*.csv)", options 0x1000,
// default extension "cfg") over path, which holds the previous choice in the
// ANSI code page. False when cancelled, failed, or when the chosen name has
// no exact ANSI form (the narrow file functions could not open it).
bool chooseCsvFile(HWND owner, char path[kCsvPathBytes]);

// WideCharToMultiByte's shape; tests put in one that keeps Windows's rules
// where Wine's is more lenient.
using WideToMultiByteFn = int(WINAPI*)(UINT, DWORD, LPCWCH, int, LPSTR, int, LPCCH, LPBOOL);

// The chosen name in code page codePage (the ANSI code page in the program).
// False, and out untouched, when the name has no exact form there or does not
// fit kCsvPathBytes bytes with its terminator.
bool csvPathInCodePage(UINT codePage, const wchar_t* name, char out[kCsvPathBytes],
                       WideToMultiByteFn toBytes = WideCharToMultiByte);
