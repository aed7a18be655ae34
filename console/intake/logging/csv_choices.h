// What dialog 138 ("出力項目") offers and how its answers become CsvSettings;
// the dialog procedure only moves these values in and out of its controls.
#pragma once
#include "console/intake/logging/csv_settings.h"
#include "resources/console/console_resources.h"

#include <string>

constexpr int kOutputDialogId = IDD_CSV_ITEMS;
constexpr int kOutputButtonId = IDC_CSV_OUTPUT; // "CSV出力"
constexpr int kIntervalComboId = IDC_LOG_INTERVAL;
constexpr int kGpuCheckBoxIds[kGpuSlotCount] = {IDC_GPU_1, IDC_GPU_2, IDC_GPU_3, IDC_GPU_4,
                                                IDC_GPU_5, IDC_GPU_6, IDC_GPU_7, IDC_GPU_8};

struct LogIntervalChoice {
    const wchar_t* text;
    int32_t ms;
};
constexpr int kLogIntervalChoiceCount = 6;
extern const LogIntervalChoice kLogIntervalChoices[kLogIntervalChoiceCount];

// State of the GPU box of one slot when the dialog opens.
struct GpuBoxDefault {
    bool setText; // the box shows the slot's tab label
    bool checked;
    bool enabled;
};
// Slot 0 is always labelled, checked and enabled; slots 1..7 only below gpuCount.
GpuBoxDefault gpuBoxDefault(int slot, int gpuCount);

// The boxes as the operator left them when pressing "CSV出力".
struct OutputDialogAnswer {
    bool gpuChecked[kGpuSlotCount] = {};
    bool itemChecked[kCsvItemCount] = {};
    int intervalIndex = 0; // the combo box selection; anything outside 0..5 keeps the interval
};

// Stores the selections and the interval; returns the message to show, empty
// when the dialog may close: "GPUに1つもチェックが入っていません" and a line
// feed when no GPU box is checked, then "項目に1つもチェックが入っていません"
// when no item box is checked.
std::wstring applyOutputAnswer(CsvSettings& csv, const OutputDialogAnswer& answer);
