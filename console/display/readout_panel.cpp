#include "console/display/readout_panel.h"

#include "console/display/value_format.h"
#include "console/intake/link/readings.h"

#include <cwchar>

namespace {

bool flagSet(const PanelSlotSnapshot& slot, SampleField flag) {
    return flag != kNoField && snapshotField(slot, flag) != 0;
}

void readoutValue(const PanelSlotSnapshot& slot, const ReadingInfo& reading,
                  wchar_t out[kReadoutValueChars]) {
    const bool valueShown = flagSet(slot, reading.supported);
    if (!valueShown && !flagSet(slot, reading.secondSupported)) {
        std::wcscpy(out, L"No Support");
        return;
    }
    wchar_t a[kValueTextBytes] = L"---";
    if (valueShown)
        formatScreenValue(snapshotField(slot, reading.value), reading.screenScale, a);
    if (reading.second == kNoField) {
        std::swprintf(out, kReadoutValueChars, L"%ls%ls%ls", reading.prefix, a, reading.unit);
        return;
    }
    wchar_t b[kValueTextBytes] = L"---";
    const int64_t second = snapshotField(slot, reading.second);
    const bool secondUnknown =
        (reading.secondSupported != kNoField && !flagSet(slot, reading.secondSupported)) ||
        (reading.secondZeroUnknown && second == 0);
    if (!secondUnknown)
        formatScreenValue(second, reading.screenScale, b);
    std::swprintf(out, kReadoutValueChars, L"%ls%ls / %ls%ls", a, reading.unit, b, reading.unit);
}

} // namespace

void buildReadoutRows(const PanelSlotSnapshot& slot, ReadoutRow rows[kReadoutRowCount]) {
    static_assert(kReadoutRowCount == kReadingCount, "one readout row per reading");
    for (int i = 0; i < kReadoutRowCount; ++i) {
        ReadoutRow& row = rows[i];
        row = ReadoutRow{};
        const int column = i / 8;
        row.labelX = column == 0 ? 10 : 410;
        row.valueX = column == 0 ? 170 : 610;
        row.y = 12 * (i % 8);
        std::wcsncpy(row.label, kReadings[i].label, kReadoutLabelChars - 1);
        readoutValue(slot, kReadings[i], row.value);
    }
}
