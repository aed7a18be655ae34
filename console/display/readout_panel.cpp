#include "console/display/readout_panel.h"

#include "console/display/value_format.h"

#include <cwchar>

namespace {

const wchar_t kNoSupport[] = L"No Support";

void setRow(ReadoutRow& row, int column, int line, const wchar_t* label) {
    row.labelX = column == 0 ? 10 : 410;
    row.valueX = column == 0 ? 170 : 610;
    row.y = 12 * line;
    std::wcsncpy(row.label, label, kReadoutLabelChars - 1);
}

// "<a> MHz / <b> MHz" and the like: two numbers with a unit each.
void pairValue(ReadoutRow& row, const wchar_t* a, const wchar_t* b, const wchar_t* unit) {
    std::swprintf(row.value, kReadoutValueChars, L"%ls%ls / %ls%ls", a, unit, b, unit);
}

void clockRow(ReadoutRow& row, int32_t supported, int32_t clock, int32_t rated) {
    if (supported == 0) {
        std::wcscpy(row.value, kNoSupport);
        return;
    }
    wchar_t a[kValueTextBytes], b[kValueTextBytes];
    formatTwoDecimal(clock, a);
    // A rated clock of 0 is one the driver did not give, not a clock of 0 MHz.
    if (rated == 0)
        std::wcscpy(b, L"---");
    else
        formatTwoDecimal(rated, b);
    pairValue(row, a, b, L" MHz");
}

void decimalRow(ReadoutRow& row, int32_t supported, int64_t value, const wchar_t* unit) {
    if (supported == 0) {
        std::wcscpy(row.value, kNoSupport);
        return;
    }
    wchar_t a[kValueTextBytes];
    formatDecimalValue(value, a);
    std::swprintf(row.value, kReadoutValueChars, L"%ls%ls", a, unit);
}

} // namespace

void buildReadoutRows(const PanelSlotSnapshot& s, ReadoutRow rows[kReadoutRowCount]) {
    for (int i = 0; i < kReadoutRowCount; ++i)
        rows[i] = ReadoutRow{};
    static const wchar_t* const kLabels[kReadoutRowCount] = {L"GPU Graphics Clock: ",
                                                             L"GPU Processor Clock: ",
                                                             L"GPU Memory Clock: ",
                                                             L"GPU Video Clock: ",
                                                             L"GPU Load: ",
                                                             L"Memory Usage: ",
                                                             L"Power Draw: ",
                                                             L"Temperature: ",
                                                             L"Driver Model: ",
                                                             L"Memory Controller Load: ",
                                                             L"Video Engine Load: ",
                                                             L"Bus Interface Load: ",
                                                             L"Fan level: ",
                                                             L"Fan rpm: ",
                                                             L"P-State: ",
                                                             L"GPU Core Voltage: "};
    for (int i = 0; i < kReadoutRowCount; ++i)
        setRow(rows[i], i / 8, i % 8, kLabels[i]);

    wchar_t a[kValueTextBytes], b[kValueTextBytes];
    clockRow(rows[0], s.graphicsClockSupported, s.graphicsClock, s.graphicsClockRated);
    clockRow(rows[1], s.processorClockSupported, s.processorClock, s.processorClockRated);
    clockRow(rows[2], s.memoryClockSupported, s.memoryClock, s.memoryClockRated);
    clockRow(rows[3], s.videoClockSupported, s.videoClock, s.videoClockRated);
    decimalRow(rows[4], s.gpuLoadSupported, s.gpuLoad, L" %");
    if (s.memoryUsageSupported == 0) {
        std::wcscpy(rows[5].value, kNoSupport);
    } else {
        formatMebibytes(s.memoryUsage, a);
        formatMebibytes(s.memoryTotal, b);
        pairValue(rows[5], a, b, L" MB");
    }
    if (s.powerDrawSupported == 0) {
        std::wcscpy(rows[6].value, kNoSupport);
    } else {
        formatTwoDecimal(s.powerDraw, a);
        formatTwoDecimal(s.powerLimit, b);
        pairValue(rows[6], a, b, L" W");
    }
    decimalRow(rows[7], s.temperatureSupported, s.temperature, L" \u2103");

    if (s.driverModelSupported == 0)
        std::wcscpy(rows[8].value, kNoSupport);
    else if (s.driverModel == 0)
        std::wcscpy(rows[8].value, L"WDDM");
    else if (s.driverModel == 1)
        std::wcscpy(rows[8].value, L"WDM(TCC)");
    decimalRow(rows[9], s.memoryControllerLoadSupported, s.memoryControllerLoad, L" %");
    decimalRow(rows[10], s.videoEngineLoadSupported, s.videoEngineLoad, L" %");
    decimalRow(rows[11], s.busInterfaceLoadSupported, s.busInterfaceLoad, L" %");
    decimalRow(rows[12], s.fanLevelSupported, s.fanLevel, L" %");
    decimalRow(rows[13], s.fanRpmSupported, s.fanRpm, L" rpm");
    if (s.pStateSupported == 0) {
        std::wcscpy(rows[14].value, kNoSupport);
    } else {
        formatDecimalValue(s.pState, a);
        std::swprintf(rows[14].value, kReadoutValueChars, L"P%ls", a);
    }
    if (s.coreVoltageSupported == 0 && s.coreVoltageRatedSupported == 0) {
        std::wcscpy(rows[15].value, kNoSupport);
    } else {
        if (s.coreVoltageSupported != 0)
            formatVolts(s.coreVoltage, a);
        else
            std::wcscpy(a, L"---");
        if (s.coreVoltageRatedSupported != 0)
            formatVolts(s.coreVoltageRated, b);
        else
            std::wcscpy(b, L"---");
        pairValue(rows[15], a, b, L" V");
    }
}
