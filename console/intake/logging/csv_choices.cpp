#include "console/intake/logging/csv_choices.h"

const LogIntervalChoice kLogIntervalChoices[kLogIntervalChoiceCount] = {
    {L"1秒", 1000}, {L"2秒", 2000}, {L"5秒", 5000}, {L"10秒", 10000}, {L"30秒", 30000}, {L"1分", 60000},
};

GpuBoxDefault gpuBoxDefault(int slot, int gpuCount) {
    if (slot == 0)
        return {true, true, true};
    const bool inUse = slot < gpuCount;
    return {inUse, inUse, inUse};
}

std::wstring applyOutputAnswer(CsvSettings& csv, const OutputDialogAnswer& answer) {
    bool anyGpu = false;
    bool anyItem = false;
    for (int i = 0; i < kGpuSlotCount; ++i) {
        csv.csvGpuSelected[i].store(answer.gpuChecked[i] ? 1 : 0, std::memory_order_relaxed);
        anyGpu = anyGpu || answer.gpuChecked[i];
    }
    for (int k = 0; k < kCsvItemCount; ++k) {
        csv.csvItemSelected[k].store(answer.itemChecked[k] ? 1 : 0, std::memory_order_relaxed);
        anyItem = anyItem || answer.itemChecked[k];
    }
    if (answer.intervalIndex >= 0 && answer.intervalIndex < kLogIntervalChoiceCount)
        csv.logIntervalMs.store(kLogIntervalChoices[answer.intervalIndex].ms, std::memory_order_relaxed);
    std::wstring message;
    if (!anyGpu)
        message += L"GPUに1つもチェックが入っていません\n";
    if (!anyItem)
        message += L"項目に1つもチェックが入っていません";
    return message;
}
