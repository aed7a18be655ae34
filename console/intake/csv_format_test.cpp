#include "console/intake/csv_format.h"

#include <gtest/gtest.h>

#include <cstring>
#include <cwchar>
#include <string>

namespace {

PanelSlotSnapshot slot(const wchar_t* name) {
    PanelSlotSnapshot s;
    std::memset(&s, 0, sizeof s);
    std::wcsncpy(s.fullName, name, kFullNameChars);
    return s;
}

LogSelection select(int gpuCount, std::initializer_list<int> gpus, std::initializer_list<int> items) {
    LogSelection sel;
    sel.gpuCount = gpuCount;
    for (int g : gpus)
        sel.gpuSelected[g] = true;
    for (int k : items)
        sel.itemSelected[k] = true;
    return sel;
}

const LogTime kNoon{2026, 3, 7, 12, 4, 9};

struct TwoGpus {
    PanelSlotSnapshot slots[kGpuSlotCount];
    TwoGpus() {
        for (auto& s : slots)
            s = slot(L"- empty -");
        slots[0] = slot(L"GeForce A");
        slots[0].gpuLoad = 37;
        slots[0].temperature = 54;
        slots[1] = slot(L"GeForce B");
        slots[1].gpuLoad = 100;
        slots[1].temperature = -5;
    }
};

TEST(CsvFormat, ExampleWithTwoGpusLoadAndTemperature) {
    TwoGpus g;
    const LogSelection sel = select(2, {0, 1}, {kItemGpuLoad, kItemTemperature});
    EXPECT_EQ(csvHeaderText(g.slots, sel), "GeForce A,,,GeForce B\r\n"
                                           ",GPU Load,Temperature,,GPU Load,Temperature,\r\n");
    EXPECT_EQ(csvDataLine(g.slots, sel, kNoon), "2026/03/07 12:04:09,37,54,2026/03/07 12:04:09,100,-5,\r\n");
}

TEST(CsvFormat, NamesSitAboveTheirTimeStampColumns) {
    TwoGpus g;
    const LogSelection sel = select(2, {0, 1}, {kItemGpuLoad, kItemTemperature, kItemPState});
    const std::string header = csvHeaderText(g.slots, sel);
    const std::string names = header.substr(0, header.find("\r\n"));
    const std::string row = csvDataLine(g.slots, sel, kNoon);
    auto column = [](const std::string& line, const std::string& cell) {
        size_t at = line.find(cell);
        int commas = 0;
        for (size_t i = 0; i < at; ++i)
            commas += line[i] == ',' ? 1 : 0;
        return commas;
    };
    EXPECT_EQ(column(names, "GeForce B"), 4);
    EXPECT_EQ(column(row, "2026/03/07 12:04:09,100"), 4);
}

TEST(CsvFormat, UnselectedAndAbsentSlotsAreLeftOut) {
    TwoGpus g;
    // Slot 0 off, slot 1 on, slot 2 selected but beyond gpuCount.
    const LogSelection sel = select(2, {1, 2}, {kItemGpuLoad});
    EXPECT_EQ(csvHeaderText(g.slots, sel), "GeForce B\r\n,GPU Load,\r\n");
    EXPECT_EQ(csvDataLine(g.slots, sel, kNoon), "2026/03/07 12:04:09,100,\r\n");
}

TEST(CsvFormat, NoGpuGivesOnlyLineEnds) {
    TwoGpus g;
    const LogSelection sel = select(0, {0, 1}, {kItemGpuLoad});
    EXPECT_EQ(csvDataLine(g.slots, sel, kNoon), "\r\n");
    EXPECT_EQ(csvHeaderText(g.slots, sel), "\r\n\r\n");
}

TEST(CsvFormat, GpuCountAboveEightWritesEightSlots) {
    PanelSlotSnapshot slots[kGpuSlotCount];
    for (auto& s : slots)
        s = slot(L"G");
    const LogSelection sel = select(200, {0, 1, 2, 3, 4, 5, 6, 7}, {kItemGpuLoad});
    const std::string row = csvDataLine(slots, sel, kNoon);
    EXPECT_EQ(row.size(), 8 * std::string("2026/03/07 12:04:09,0,").size() + 2);
}

TEST(CsvFormat, JapaneseNameIsCodePage932) {
    PanelSlotSnapshot slots[kGpuSlotCount];
    for (auto& s : slots)
        s = slot(L"");
    slots[0] = slot(L"GPU\u63a5\u7d9a"); // 接続
    const LogSelection sel = select(1, {0}, {kItemTemperature});
    EXPECT_EQ(csvHeaderText(slots, sel), "GPU\x90\xda\x91\xb1\r\n,Temperature,\r\n");
}

TEST(CsvFormat, AllTwelveItems) {
    PanelSlotSnapshot slots[kGpuSlotCount];
    for (auto& s : slots)
        s = slot(L"");
    PanelSlotSnapshot& s = slots[0];
    std::wcscpy(s.fullName, L"Example GPU");
    s.graphicsClock = 1189500;
    s.memoryClock = 5005000;
    s.gpuLoad = 37;
    s.memoryUsage = 1203456;
    s.videoEngineLoad = 21;
    s.temperature = 54;
    s.fanLevelSupported = 1;
    s.fanLevel = 33;
    s.fanRpm = 1125;
    s.powerDrawSupported = 1;
    s.powerDraw = 65432;
    s.pState = 0;
    s.memoryControllerLoad = 3;
    s.busInterfaceLoad = 1;
    LogSelection sel = select(1, {0}, {});
    for (bool& on : sel.itemSelected)
        on = true;
    EXPECT_EQ(csvHeaderText(slots, sel),
              "Example GPU\r\n"
              ",Graphics Clock,Memory Clock,GPU Load,Memory Usage,Video Engine Load,Temperature,FAN Level,"
              "FAN rpm,Power Draw,P-State,Memory Controller Load,Bus Interface Load,\r\n");
    EXPECT_EQ(csvDataLine(slots, sel, LogTime{2026, 12, 31, 23, 59, 58}),
              "2026/12/31 23:59:58,1189,5005,37,1175.25,21,54,33,1125,65.432,0,3,1,\r\n");
}

TEST(CsvFormat, HeaderOfOneGpuWithAllItemsHasThirteenCommasPerGpu) {
    PanelSlotSnapshot slots[kGpuSlotCount];
    for (auto& s : slots)
        s = slot(L"N");
    LogSelection sel = select(3, {0, 2}, {});
    for (bool& on : sel.itemSelected)
        on = true;
    const std::string header = csvHeaderText(slots, sel);
    EXPECT_EQ(header.substr(0, header.find("\r\n")), "N" + std::string(13, ',') + "N");
}

struct CellCase {
    const char* what;
    int item;
    void (*set)(PanelSlotSnapshot&);
    const char* cell;
};

const CellCase kCellCases[] = {
    {"clock cut toward zero", kItemGraphicsClock, [](PanelSlotSnapshot& s) { s.graphicsClock = 1189500; },
     "1189,"},
    {"clock below one MHz", kItemMemoryClock, [](PanelSlotSnapshot& s) { s.memoryClock = 999; }, "0,"},
    {"power three decimals", kItemPowerDraw,
     [](PanelSlotSnapshot& s) {
         s.powerDrawSupported = 1;
         s.powerDraw = 123456;
     },
     "123.456,"},
    {"power without support", kItemPowerDraw, [](PanelSlotSnapshot& s) { s.powerDraw = 123456; }, ","},
    {"fan level without support", kItemFanLevel, [](PanelSlotSnapshot& s) { s.fanLevel = 40; }, ","},
    {"fan level supported at 0", kItemFanLevel, [](PanelSlotSnapshot& s) { s.fanLevelSupported = 1; }, "0,"},
    {"fan rpm 0 with support", kItemFanRpm, [](PanelSlotSnapshot& s) { s.fanRpmSupported = 1; }, ","},
    {"fan rpm without support flag", kItemFanRpm, [](PanelSlotSnapshot& s) { s.fanRpm = 900; }, "900,"},
    {"load printed whatever its flag", kItemGpuLoad, [](PanelSlotSnapshot& s) { s.gpuLoad = 12; }, "12,"},
    {"memory usage", kItemMemoryUsage, [](PanelSlotSnapshot& s) { s.memoryUsage = 1536; }, "1.50,"},
    {"largest unsigned load prints as %d", kItemBusInterfaceLoad,
     [](PanelSlotSnapshot& s) { s.busInterfaceLoad = 0xFFFFFFFFu; }, "-1,"},
    {"negative p-state", kItemPState, [](PanelSlotSnapshot& s) { s.pState = -1; }, "-1,"},
    {"unknown item", 12, [](PanelSlotSnapshot&) {}, ""},
    {"negative item", -1, [](PanelSlotSnapshot&) {}, ""},
};

TEST(CsvFormat, Cells) {
    for (const CellCase& c : kCellCases) {
        PanelSlotSnapshot s = slot(L"x");
        c.set(s);
        EXPECT_EQ(csvCell(s, c.item), c.cell) << c.what;
    }
}

TEST(CsvFormat, MemoryMbText) {
    const struct {
        uint32_t kib;
        const char* text;
    } cases[] = {{1536, "1.50"}, {3000000, "2929.68"}, {0, "0.00"},         {1048576, "1024.00"},
                 {1, "0.00"},    {11, "0.01"},         {0xFFFFFFFFu, "4194303.99"}};
    for (const auto& c : cases)
        EXPECT_EQ(memoryMbText(c.kib), c.text) << c.kib;
}

TEST(CsvFormat, ClockAndPowerInSinglePrecision) {
    EXPECT_EQ(clockMhz(1189500), 1189);
    EXPECT_EQ(clockMhz(-1500), -1);
    EXPECT_EQ(clockMhz(0), 0);
    // 16777999 kHz is 16778000 as a float, so the cut gives 16778, not 16777.
    EXPECT_EQ(clockMhz(16777999), 16778);
    EXPECT_EQ(powerWattsText(123456), "123.456");
    EXPECT_EQ(powerWattsText(0), "0.000");
    EXPECT_EQ(powerWattsText(1), "0.001");
    // Single precision shows in the third decimal for large draws.
    EXPECT_EQ(powerWattsText(16384009), "16384.010");
}

TEST(CsvFormat, TimeStampPadsToTwoDigits) {
    EXPECT_EQ(timeStampText(LogTime{2026, 1, 2, 3, 4, 5}, ','), "2026/01/02 03:04:05,");
    EXPECT_EQ(timeStampText(LogTime{2026, 11, 12, 13, 14, 15}, ' '), "2026/11/12 13:14:15 ");
}

TEST(CsvFormat, ReadSelectionFromSettings) {
    CsvSettings csv;
    initCsvSettings(csv);
    csv.csvGpuSelected[3].store(0);
    csv.csvItemSelected[kItemFanRpm].store(0);
    LogSelection sel = readLogSelection(csv, 5);
    EXPECT_EQ(sel.gpuCount, 5);
    EXPECT_FALSE(sel.gpuSelected[3]);
    EXPECT_TRUE(sel.gpuSelected[4]);
    EXPECT_FALSE(sel.itemSelected[kItemFanRpm]);
    EXPECT_EQ(selectedItemCount(sel), 11);
    EXPECT_EQ(readLogSelection(csv, -3).gpuCount, 0);
    EXPECT_EQ(readLogSelection(csv, 9).gpuCount, 8);
}

TEST(CsvFormat, ItemTableMatchesDialogIds) {
    const int ids[kCsvItemCount] = {1000, 1001, 1002, 1003, 1004, 1005, 1006, 1007, 1008, 1009, 1021, 1022};
    for (int k = 0; k < kCsvItemCount; ++k) {
        EXPECT_EQ(kCsvItems[k].checkBoxId, ids[k]);
        EXPECT_EQ(std::string(",") + kCsvItems[k].dialogText, kCsvItems[k].headerCell);
    }
}

} // namespace
