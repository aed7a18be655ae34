#include "console/display/readout_panel.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

using Snapshot = PanelSlotSnapshot;

TEST(ReadoutPanel, LabelsPlacesAndValues) {
    Snapshot start{};
    ReadoutRow rows[kReadoutRowCount];
    buildReadoutRows(start, rows);
    std::wstring labels;
    for (int i = 0; i < kReadoutRowCount; ++i) {
        labels += std::wstring(rows[i].label) + L"@" + std::to_wstring(rows[i].labelX) + L"," +
                  std::to_wstring(rows[i].valueX) + L"," + std::to_wstring(rows[i].y) + L"|";
        EXPECT_EQ(std::wstring(rows[i].value), L"No Support") << i;
    }
    EXPECT_EQ(
        labels,
        L"GPU Graphics Clock: @10,170,0|GPU Processor Clock: @10,170,12|GPU Memory Clock: @10,170,24|"
        L"GPU Video Clock: @10,170,36|GPU Load: @10,170,48|Memory Usage: @10,170,60|Power Draw: @10,170,72|"
        L"Temperature: @10,170,84|Driver Model: @410,610,0|Memory Controller Load: @410,610,12|"
        L"Video Engine Load: @410,610,24|Bus Interface Load: @410,610,36|Fan level: @410,610,48|"
        L"Fan rpm: @410,610,60|P-State: @410,610,72|GPU Core Voltage: @410,610,84|");
    // Every field in line order, each flag on; the rated graphics clock 1999 is
    // truncated, not rounded.
    const int64_t fields[kSampleFieldCount] = {
        1, 1,  1350000, -1500,   1, 50, 1, 1234567,     1999, 7000500, 2147483647, 999,   1, 1,
        1, 87, 1,       3000000, 1, 1,  1, -2147483648, 1,    250000,  123456,     1,     1, 8,
        1, 12, 1,       0,       1, 3,  1, 40,          1,    1500,    1,          10000, 1, 9999};
    auto panel = std::make_unique<GpuPanelState>();
    initGpuPanelState(*panel);
    for (int k = 0; k < kSampleFieldCount; ++k)
        setSlotField(panel->slots[0], SampleField(k), fields[k]);
    Snapshot s = snapshotPanelSlot(*panel, 0);
    buildReadoutRows(s, rows);
    std::wstring values;
    for (const ReadoutRow& row : rows)
        values += std::wstring(row.value) + L"|";
    EXPECT_EQ(values,
              L"1350.00 MHz / 1.99 MHz|0.05 MHz / 2147483.64 MHz|-1.50 MHz / 7000.50 MHz|"
              L"1234.56 MHz / 0.99 MHz|87 %|0.00 MB / 2929.68 MB|123.45 W / 250.00 W|-2147483648 \u2103|"
              L"WDM(TCC)|12 %|0 %|3 %|40 %|1500 rpm|P8|0.00 V / 0.01 V|");
    struct Case {
        void (*set)(Snapshot&);
        int row;
        const wchar_t* text;
    };
    const Case cases[] = {
        {[](Snapshot& s) { s.graphicsClockRated = 0; }, 0, L"1350.00 MHz / --- MHz"},
        {[](Snapshot& s) { s.videoClockRated = 0; }, 3, L"1234.56 MHz / --- MHz"},
        {[](Snapshot& s) { s.driverModel = 0; }, 8, L"WDDM"},
        {[](Snapshot& s) { s.driverModel = 2; }, 8, L""},
        {[](Snapshot& s) { s.driverModel = -1; }, 8, L""},
        {[](Snapshot& s) { s.coreVoltageSupported = 0; }, 15, L"--- V / 1.05 V"},
        {[](Snapshot& s) { s.coreVoltageRatedSupported = 0; }, 15, L"0.90 V / --- V"},
        {[](Snapshot& s) { s.coreVoltage = 0; }, 15, L"0.00 V / 1.05 V"},
        {[](Snapshot& s) { std::memset(&s, 0xff, sizeof s); }, 13, L"4294967295 rpm"},
        {[](Snapshot& s) { std::memset(&s, 0xff, sizeof s); }, 15, L"4294.96 V / 4294.96 V"},
    };
    for (const Case& c : cases) {
        s.coreVoltageSupported = s.coreVoltageRatedSupported = 1;
        s.coreVoltage = 900000;
        s.coreVoltageRated = 1050000;
        c.set(s);
        buildReadoutRows(s, rows);
        EXPECT_EQ(std::wstring(rows[c.row].value), c.text) << c.row;
    }
}
