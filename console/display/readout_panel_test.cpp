#include "console/display/readout_panel.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

TEST(ReadoutPanel, RowsAtStartUpAndWithEveryReading) {
    PanelSlotSnapshot s{};
    ReadoutRow rows[kReadoutRowCount];
    buildReadoutRows(s, rows);
    const wchar_t* const labels[kReadoutRowCount] = {L"GPU Graphics Clock: ",
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
    for (int i = 0; i < kReadoutRowCount; ++i) {
        EXPECT_EQ(std::wstring(rows[i].label), labels[i]) << i;
        EXPECT_EQ(std::wstring(rows[i].value), L"No Support") << i;
        EXPECT_EQ(rows[i].labelX, i < 8 ? 10 : 410);
        EXPECT_EQ(rows[i].valueX, i < 8 ? 170 : 610);
        EXPECT_EQ(rows[i].y, 12 * (i % 8));
    }
#define SUPPORT_ALL(name, kind, conv) s.name = 1;
    GAUGELINE_SAMPLE_FIELDS(SUPPORT_ALL)
#undef SUPPORT_ALL
    s.graphicsClock = 1350000;
    s.graphicsClockRated = 1999; // truncated, not rounded
    s.processorClock = 50;
    s.processorClockRated = 2147483647;
    s.memoryClock = -1500;
    s.memoryClockRated = 7000500;
    s.videoClock = 1234567;
    s.videoClockRated = 999;
    s.gpuLoad = 87;
    s.memoryUsage = 1;
    s.memoryTotal = 3000000;
    s.powerDraw = 123456;
    s.powerLimit = 250000;
    s.temperature = -2147483647 - 1;
    s.driverModel = 1;
    s.memoryControllerLoad = 12;
    s.videoEngineLoad = 0;
    s.busInterfaceLoad = 3;
    s.fanLevel = 40;
    s.fanRpm = 1500;
    s.pState = 8;
    s.coreVoltage = 9999;
    s.coreVoltageRated = 10000;
    buildReadoutRows(s, rows);
    const wchar_t* values[kReadoutRowCount] = {L"1350.00 MHz / 1.99 MHz",
                                               L"0.05 MHz / 2147483.64 MHz",
                                               L"-1.50 MHz / 7000.50 MHz",
                                               L"1234.56 MHz / 0.99 MHz",
                                               L"87 %",
                                               L"0.00 MB / 2929.68 MB",
                                               L"123.45 W / 250.00 W",
                                               L"-2147483648 \u2103",
                                               L"WDM(TCC)",
                                               L"12 %",
                                               L"0 %",
                                               L"3 %",
                                               L"40 %",
                                               L"1500 rpm",
                                               L"P8",
                                               L"0.00 V / 0.01 V"};
    for (int i = 0; i < kReadoutRowCount; ++i)
        EXPECT_EQ(std::wstring(rows[i].value), values[i]) << i;
}

TEST(ReadoutPanel, DriverModelCoreVoltageAndLargestReadings) {
    struct Case {
        void (*set)(PanelSlotSnapshot&);
        int row;
        const wchar_t* text;
    };
    const Case cases[] = {
        {[](PanelSlotSnapshot& s) { s.driverModel = 0; }, 8, L"WDDM"},
        {[](PanelSlotSnapshot& s) { s.driverModel = 2; }, 8, L""},
        {[](PanelSlotSnapshot& s) { s.driverModel = -1; }, 8, L""},
        {[](PanelSlotSnapshot& s) { s.coreVoltageSupported = 0; }, 15, L"--- V / 1.05 V"},
        {[](PanelSlotSnapshot& s) { s.coreVoltageRatedSupported = 0; }, 15, L"0.90 V / --- V"},
        {[](PanelSlotSnapshot& s) { s.coreVoltage = 0; }, 15, L"0.00 V / 1.05 V"},
        {[](PanelSlotSnapshot& s) { std::memset(&s, 0xff, sizeof s); }, 5, L"4194303.99 MB / 4194303.99 MB"},
        {[](PanelSlotSnapshot& s) { std::memset(&s, 0xff, sizeof s); }, 13, L"4294967295 rpm"},
        {[](PanelSlotSnapshot& s) { std::memset(&s, 0xff, sizeof s); }, 15, L"4294.96 V / 4294.96 V"},
    };
    for (const Case& c : cases) {
        PanelSlotSnapshot s{};
        s.driverModelSupported = s.coreVoltageSupported = s.coreVoltageRatedSupported = 1;
        s.coreVoltage = 900000;
        s.coreVoltageRated = 1050000;
        c.set(s);
        ReadoutRow rows[kReadoutRowCount];
        buildReadoutRows(s, rows);
        EXPECT_EQ(std::wstring(rows[c.row].value), c.text) << c.row;
    }
}
