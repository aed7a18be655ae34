#include "console/intake/log_console_block.h"

#include <gtest/gtest.h>

#include <cstring>
#include <cwchar>

namespace {

PanelSlotSnapshot slot(const wchar_t* name) {
    PanelSlotSnapshot s;
    std::memset(&s, 0, sizeof s);
    std::wcsncpy(s.fullName, name, kFullNameChars);
    return s;
}

const LogTime kTime{2026, 3, 7, 9, 8, 7};

void expectPieces(const std::vector<ConsolePiece>& got, const std::vector<ConsolePiece>& want) {
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(got[i].attribute, want[i].attribute) << "piece " << i;
        EXPECT_EQ(got[i].text, want[i].text) << "piece " << i;
    }
}

const std::vector<ConsolePiece> kStart = {{kAttrKeep, "2026/03/07 09:08:07 "},
                                          {kAttrKeep, "==============================\n"}};
const ConsolePiece kEnd = {kAttrKeep, "==================================================\n"};

TEST(LogConsoleBlock, OneGpuWithOnlyTemperature) {
    PanelSlotSnapshot slots[kGpuSlotCount];
    for (auto& s : slots)
        s = slot(L"- empty -");
    slots[0] = slot(L"Example GPU");
    slots[0].temperature = 54;
    LogSelection sel;
    sel.gpuCount = 1;
    sel.gpuSelected[0] = true;
    sel.itemSelected[kItemTemperature] = true;
    std::vector<ConsolePiece> want = kStart;
    want.push_back({kAttrGpuName, "Example GPU:\n"});
    want.push_back({kAttrValue, "\tTemperature         54\n"});
    want.push_back(kEnd);
    expectPieces(consoleRowBlock(slots, sel, kTime, true), want);
}

TEST(LogConsoleBlock, AttributesAreCyanMagentaGrey) {
    EXPECT_EQ(kAttrGpuName, 11);
    EXPECT_EQ(kAttrValue, 5);
    EXPECT_EQ(kAttrNormal, 7);
}

TEST(LogConsoleBlock, AllItemsWithClocksInOnePiece) {
    PanelSlotSnapshot s = slot(L"GPU\u63a5\u7d9a");
    s.graphicsClock = 1189500;
    s.memoryClock = 5005000;
    s.gpuLoad = 37;
    s.memoryUsage = 3000000;
    s.videoEngineLoad = 21;
    s.temperature = 54;
    s.fanLevelSupported = 1;
    s.fanLevel = 33;
    s.fanRpm = 1125;
    s.powerDrawSupported = 1;
    s.powerDraw = 123456;
    s.pState = 8;
    s.memoryControllerLoad = 3;
    s.busInterfaceLoad = 1;
    bool items[kCsvItemCount];
    for (bool& on : items)
        on = true;
    expectPieces(consoleGpuPieces(s, items), {
                                                 {kAttrGpuName, "GPU\x90\xda\x91\xb1:\n"},
                                                 {kAttrValue, "\tGraphics Clock      1189 MHz\n"
                                                              "\tMemory Clock        5005 MHz\n"},
                                                 {kAttrValue, "\tGPU Load            37 %\n"},
                                                 {kAttrValue, "\tMemory Usage        2929.68 MB\n"},
                                                 {kAttrValue, "\tVideo Engine Load   21 %\n"},
                                                 {kAttrValue, "\tTemperature         54\n"},
                                                 {kAttrValue, "\tFAN Level           33 %\n"},
                                                 {kAttrValue, "\tFAN rpm             1125 rpm\n"},
                                                 {kAttrValue, "\tPower(Draw)         123.456 W\n"},
                                                 {kAttrValue, "\tP-State             8\n"},
                                                 {kAttrValue, "\tMemory Controller Load   3 %\n"},
                                                 {kAttrValue, "\tBus Interface Load  1 %\n"},
                                             });
}

TEST(LogConsoleBlock, OnlyMemoryClockMakesAClockPieceOfOneLine) {
    PanelSlotSnapshot s = slot(L"G");
    s.memoryClock = 810000;
    bool items[kCsvItemCount] = {};
    items[kItemMemoryClock] = true;
    expectPieces(consoleGpuPieces(s, items),
                 {{kAttrGpuName, "G:\n"}, {kAttrValue, "\tMemory Clock        810 MHz\n"}});
}

TEST(LogConsoleBlock, NoSupportLines) {
    PanelSlotSnapshot s = slot(L"G");
    s.fanLevel = 40;       // flag 0
    s.fanRpmSupported = 1; // but fanRpm 0
    s.powerDraw = 5000;    // flag 0
    EXPECT_EQ(consoleItemLine(s, kItemFanLevel), "\tFAN Level           No Support\n");
    EXPECT_EQ(consoleItemLine(s, kItemFanRpm), "\tFAN rpm             No Support\n");
    EXPECT_EQ(consoleItemLine(s, kItemPowerDraw), "\tPower(Draw)         No Support\n");
    EXPECT_EQ(consoleItemLine(s, 12), "");
}

TEST(LogConsoleBlock, MissingFileBlock) {
    PanelSlotSnapshot slots[kGpuSlotCount];
    for (auto& s : slots)
        s = slot(L"G");
    LogSelection sel;
    sel.gpuCount = 2;
    sel.gpuSelected[0] = sel.gpuSelected[1] = true;
    sel.itemSelected[kItemGpuLoad] = true;
    std::vector<ConsolePiece> want = kStart;
    // "csvファイルが見つかりません\n" in code page 932.
    want.push_back({kAttrKeep, "csv\x83\x74\x83\x40\x83\x43\x83\x8b\x82\xaa\x8c\xa9\x82\xc2\x82\xa9\x82\xe8"
                               "\x82\xdc\x82\xb9\x82\xf1\n"});
    want.push_back(kEnd);
    expectPieces(consoleRowBlock(slots, sel, kTime, false), want);
}

TEST(LogConsoleBlock, NoGpuPrintsOnlyTimeAndEndLines) {
    PanelSlotSnapshot slots[kGpuSlotCount];
    for (auto& s : slots)
        s = slot(L"G");
    LogSelection sel;
    sel.gpuCount = 0;
    for (bool& on : sel.gpuSelected)
        on = true;
    sel.itemSelected[kItemTemperature] = true;
    std::vector<ConsolePiece> want = kStart;
    want.push_back(kEnd);
    expectPieces(consoleRowBlock(slots, sel, kTime, true), want);
}

TEST(LogConsoleBlock, SeparatorLengths) {
    EXPECT_EQ(consoleBlockStart(kTime)[1].text, std::string(30, '=') + "\n");
    EXPECT_EQ(consoleBlockEnd().text, std::string(50, '=') + "\n");
}

} // namespace
