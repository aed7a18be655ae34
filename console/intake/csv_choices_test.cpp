#include "console/intake/csv_choices.h"

#include <gtest/gtest.h>

namespace {

OutputDialogAnswer allChecked() {
    OutputDialogAnswer a;
    for (bool& on : a.gpuChecked)
        on = true;
    for (bool& on : a.itemChecked)
        on = true;
    return a;
}

TEST(CsvChoices, IntervalTable) {
    const int32_t ms[] = {1000, 2000, 5000, 10000, 30000, 60000};
    const wchar_t* texts[] = {L"1\u79d2", L"2\u79d2", L"5\u79d2", L"10\u79d2", L"30\u79d2", L"1\u5206"};
    for (int i = 0; i < kLogIntervalChoiceCount; ++i) {
        EXPECT_EQ(kLogIntervalChoices[i].ms, ms[i]);
        EXPECT_STREQ(kLogIntervalChoices[i].text, texts[i]);
    }
}

TEST(CsvChoices, GpuBoxDefaults) {
    const struct {
        int slot, gpuCount;
        bool setText, checked, enabled;
    } cases[] = {
        {0, 0, true, true, true},    {0, 3, true, true, true},    {1, 0, false, false, false},
        {1, 2, true, true, true},    {2, 2, false, false, false}, {7, 8, true, true, true},
        {7, 7, false, false, false}, {7, 100, true, true, true},  {3, -4, false, false, false},
    };
    for (const auto& c : cases) {
        const GpuBoxDefault d = gpuBoxDefault(c.slot, c.gpuCount);
        EXPECT_EQ(d.setText, c.setText) << c.slot << " " << c.gpuCount;
        EXPECT_EQ(d.checked, c.checked) << c.slot << " " << c.gpuCount;
        EXPECT_EQ(d.enabled, c.enabled) << c.slot << " " << c.gpuCount;
    }
}

TEST(CsvChoices, AnswerStoresSelectionsAndInterval) {
    CsvSettings csv;
    initCsvSettings(csv);
    OutputDialogAnswer a = allChecked();
    a.gpuChecked[1] = false;
    a.itemChecked[7] = false;
    a.intervalIndex = 4;
    EXPECT_EQ(applyOutputAnswer(csv, a), L"");
    EXPECT_EQ(csv.csvGpuSelected[0].load(), 1);
    EXPECT_EQ(csv.csvGpuSelected[1].load(), 0);
    EXPECT_EQ(csv.csvItemSelected[7].load(), 0);
    EXPECT_EQ(csv.csvItemSelected[11].load(), 1);
    EXPECT_EQ(csv.logIntervalMs.load(), 30000);
}

TEST(CsvChoices, NoSelectionInComboKeepsTheInterval) {
    for (int index : {-1, 6, 1000}) {
        CsvSettings csv;
        initCsvSettings(csv);
        csv.logIntervalMs.store(5000);
        OutputDialogAnswer a = allChecked();
        a.intervalIndex = index;
        applyOutputAnswer(csv, a);
        EXPECT_EQ(csv.logIntervalMs.load(), 5000) << index;
    }
}

TEST(CsvChoices, Messages) {
    const std::wstring noGpu = L"GPU\u306b1\u3064\u3082\u30c1\u30a7\u30c3\u30af\u304c\u5165\u3063\u3066\u3044"
                               L"\u307e\u305b\u3093";
    const std::wstring noItem =
        L"\u9805\u76ee\u306b1\u3064\u3082\u30c1\u30a7\u30c3\u30af\u304c\u5165\u3063\u3066"
        L"\u3044\u307e\u305b\u3093";
    CsvSettings csv;
    initCsvSettings(csv);
    OutputDialogAnswer a = allChecked();
    for (bool& on : a.gpuChecked)
        on = false;
    EXPECT_EQ(applyOutputAnswer(csv, a), noGpu + L"\n");
    for (bool& on : a.itemChecked)
        on = false;
    EXPECT_EQ(applyOutputAnswer(csv, a), noGpu + L"\n" + noItem);
    a.gpuChecked[5] = true;
    EXPECT_EQ(applyOutputAnswer(csv, a), noItem);
    // The selections are stored even when the dialog stays open.
    EXPECT_EQ(csv.csvGpuSelected[5].load(), 1);
    EXPECT_EQ(csv.csvItemSelected[0].load(), 0);
}

} // namespace
