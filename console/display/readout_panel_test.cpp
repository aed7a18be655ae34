#include "console/display/readout_panel.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

PanelSlotSnapshot blank() {
    PanelSlotSnapshot s;
    std::memset(&s, 0, sizeof s);
    return s;
}

const wchar_t* const kLabels[kReadoutRowCount] = {L"GPU Graphics Clock: ",
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

} // namespace

TEST(ReadoutPanel, StartUpShowsNoSupportSixteenTimes) {
    ReadoutRow rows[kReadoutRowCount];
    buildReadoutRows(blank(), rows);
    int noSupport = 0;
    for (int i = 0; i < kReadoutRowCount; ++i) {
        EXPECT_EQ(std::wstring(rows[i].label), kLabels[i]) << i;
        EXPECT_EQ(rows[i].labelX, i < 8 ? 10 : 410);
        EXPECT_EQ(rows[i].valueX, i < 8 ? 170 : 610);
        EXPECT_EQ(rows[i].y, 12 * (i % 8));
        noSupport += std::wstring(rows[i].value) == L"No Support";
    }
    EXPECT_EQ(noSupport, 16);
}

TEST(ReadoutPanel, SupportedValues) {
    PanelSlotSnapshot s = blank();
    s.graphicsClockSupported = s.processorClockSupported = s.memoryClockSupported = s.videoClockSupported = 1;
    s.graphicsClock = 1350000;
    s.graphicsClockRated = 1999;
    s.processorClock = 5;
    s.processorClockRated = 0;
    s.memoryClock = 7000000;
    s.memoryClockRated = 7000500;
    s.videoClock = 1234567;
    s.videoClockRated = 999;
    s.gpuLoadSupported = 1;
    s.gpuLoad = 87;
    s.memoryUsageSupported = 1;
    s.memoryUsage = 3000000;
    s.memoryTotal = 8388608;
    s.powerDrawSupported = 1;
    s.powerDraw = 123456;
    s.powerLimit = 250000;
    s.temperatureSupported = 1;
    s.temperature = 65;
    s.driverModelSupported = 1;
    s.driverModel = 1;
    s.memoryControllerLoadSupported = 1;
    s.memoryControllerLoad = 12;
    s.videoEngineLoadSupported = 1;
    s.videoEngineLoad = 0;
    s.busInterfaceLoadSupported = 1;
    s.busInterfaceLoad = 3;
    s.fanLevelSupported = 1;
    s.fanLevel = 40;
    s.fanRpmSupported = 1;
    s.fanRpm = 1500;
    s.pStateSupported = 1;
    s.pState = 8;
    s.coreVoltageSupported = s.coreVoltageRatedSupported = 1;
    s.coreVoltage = 812500;
    s.coreVoltageRated = 1050000;
    ReadoutRow rows[kReadoutRowCount];
    buildReadoutRows(s, rows);
    const wchar_t* expected[kReadoutRowCount] = {L"1350.00 MHz / 1.99 MHz",
                                                 L"0.00 MHz / 0.00 MHz",
                                                 L"7000.00 MHz / 7000.50 MHz",
                                                 L"1234.56 MHz / 0.99 MHz",
                                                 L"87 %",
                                                 L"2929.68 MB / 8192.00 MB",
                                                 L"123.45 W / 250.00 W",
                                                 L"65 \u2103",
                                                 L"WDM(TCC)",
                                                 L"12 %",
                                                 L"0 %",
                                                 L"3 %",
                                                 L"40 %",
                                                 L"1500 rpm",
                                                 L"P8",
                                                 L"0.81 V / 1.05 V"};
    for (int i = 0; i < kReadoutRowCount; ++i)
        EXPECT_EQ(std::wstring(rows[i].value), expected[i]) << i;
}

TEST(ReadoutPanel, DriverModelTexts) {
    struct Case {
        int32_t supported, model;
        const wchar_t* text;
    };
    const Case cases[] = {
        {1, 0, L"WDDM"}, {1, 1, L"WDM(TCC)"}, {1, 2, L""}, {1, -1, L""}, {0, 0, L"No Support"}};
    for (const auto& c : cases) {
        PanelSlotSnapshot s = blank();
        s.driverModelSupported = c.supported;
        s.driverModel = c.model;
        ReadoutRow rows[kReadoutRowCount];
        buildReadoutRows(s, rows);
        EXPECT_EQ(std::wstring(rows[8].value), c.text) << c.model;
        EXPECT_EQ(std::wstring(rows[8].label), L"Driver Model: ");
    }
}

TEST(ReadoutPanel, CoreVoltageCases) {
    struct Case {
        int32_t a, b;
        uint32_t current, rated;
        const wchar_t* text;
    };
    const Case cases[] = {
        {0, 0, 900000, 1050000, L"No Support"},        {0, 1, 900000, 1050000, L"--- V / 1.05 V"},
        {1, 0, 900000, 1050000, L"0.90 V / --- V"},    {1, 1, 0, 1050000, L"0.00 V / 1.05 V"},
        {1, 1, 4294967295u, 1, L"4294.96 V / 0.00 V"},
    };
    for (const auto& c : cases) {
        PanelSlotSnapshot s = blank();
        s.coreVoltageSupported = c.a;
        s.coreVoltageRatedSupported = c.b;
        s.coreVoltage = c.current;
        s.coreVoltageRated = c.rated;
        ReadoutRow rows[kReadoutRowCount];
        buildReadoutRows(s, rows);
        EXPECT_EQ(std::wstring(rows[15].value), c.text) << c.a << c.b;
    }
}

TEST(ReadoutPanel, LargestUnsignedReadingsKeepEveryDigit) {
    PanelSlotSnapshot s;
    std::memset(&s, 0xff, sizeof s);
    ReadoutRow rows[kReadoutRowCount];
    buildReadoutRows(s, rows);
    const struct {
        int row;
        const wchar_t* text;
    } cases[] = {
        {5, L"4194303.99 MB / 4194303.99 MB"},
        {9, L"4294967295 %"},
        {10, L"4294967295 %"},
        {11, L"4294967295 %"},
        {12, L"4294967295 %"},
        {13, L"4294967295 rpm"},
        {15, L"4294.96 V / 4294.96 V"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(std::wstring(rows[c.row].value), c.text) << c.row;
}
