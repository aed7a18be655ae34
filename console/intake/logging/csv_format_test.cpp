// The CSV lines and the text console's block for the same readings.
#include "console/intake/link/intake.h"
#include "console/intake/logging/csv_format.h"
#include "console/intake/logging/log_console_block.h"
#include "protocol/report_block.h"

#include <gtest/gtest.h>

#include <cstring>
#include <cwchar>
#include <string>

namespace {

const LogTime kTime{2026, 3, 7, 9, 8, 7};
const std::string kStamp = "2026/03/07 09:08:07,";

// Slot 0 shows every item; slot 1 the edge cases; slots 2 to 7 are "G" with zeros.
std::vector<PanelSlotSnapshot> makeSlots() {
    std::vector<PanelSlotSnapshot> s(kGpuSlotCount);
    for (auto& slot : s)
        std::wcscpy(slot.fullName, L"G");
    std::wcscpy(s[0].fullName, L"Example GPU");
    s[0].graphicsClock = 1189500;
    s[0].memoryClock = 5005000;
    s[0].gpuLoad = 37;
    s[0].memoryUsage = 3000000;
    s[0].videoEngineLoad = 21;
    s[0].temperature = 54;
    s[0].fanLevelSupported = 1;
    s[0].fanLevel = 33;
    s[0].fanRpm = 1125; // printed without its flag
    s[0].powerDrawSupported = 1;
    s[0].powerDraw = 123456;
    s[0].pState = 8;
    s[0].memoryControllerLoad = 3;
    s[0].busInterfaceLoad = 1;
    std::wcscpy(s[1].fullName, L"GPU\u63a5\u7d9a");
    s[1].graphicsClock = 16777999; // 16778000 as a float
    s[1].memoryClock = 999;
    s[1].gpuLoad = 100;
    s[1].memoryUsage = 11;
    s[1].temperature = -5;
    s[1].fanLevel = 40; // without support
    s[1].fanRpmSupported = 1;
    s[1].powerDraw = 5000; // without support
    s[1].pState = -1;
    s[1].busInterfaceLoad = 0xFFFFFFFFu;
    s[2].graphicsClock = -1500;
    s[2].memoryUsage = 0xFFFFFFFFu;
    s[2].powerDrawSupported = 1;
    s[2].powerDraw = 16384009; // single precision shows in the third decimal
    return s;
}

LogSelection select(int gpuCount, unsigned gpus, unsigned items) {
    LogSelection sel;
    sel.gpuCount = gpuCount;
    for (int i = 0; i < kGpuSlotCount; ++i)
        sel.gpuSelected[i] = (gpus >> i) & 1;
    for (int k = 0; k < kCsvItemCount; ++k)
        sel.itemSelected[k] = (items >> k) & 1;
    return sel;
}

std::string times(const std::string& text, int n) {
    std::string all;
    while (n-- > 0)
        all += text;
    return all;
}

// The pieces as one text; a coloured piece starts with its attribute in <>.
std::string shown(const std::vector<ConsolePiece>& pieces) {
    std::string all;
    for (const ConsolePiece& p : pieces)
        all += (p.attribute == kAttrKeep ? "" : "<" + std::to_string(p.attribute) + ">") + p.text;
    return all;
}

const unsigned kAll = 0xFFF;
// Item bits in the order of CsvItem.
const unsigned kLoad = 1u << 2;
const std::string kAllCells =
    ",Graphics Clock,Memory Clock,GPU Load,Memory Usage,Video Engine Load,Temperature,"
    "FAN Level,FAN rpm,Power Draw,P-State,Memory Controller Load,Bus Interface Load,";

// A row checks the CSV lines where header is given, the console block where text is.
TEST(CsvFormat, HeaderRowAndConsoleBlock) {
    const std::string start = "2026/03/07 09:08:07 ==============================\n";
    const std::string end = times("=", 50) + "\n";
    const struct {
        int gpuCount;
        unsigned gpus, items;
        std::string header, row, text = "";
    } cases[] = {
        // Slot 0 off, slot 2 beyond the count.
        {2, 0b110, kLoad, "GPU\x90\xda\x91\xb1\r\n,GPU Load,\r\n", kStamp + "100,\r\n"},
        {0, 0b11, kLoad, "\r\n\r\n", "\r\n"},
        {2, 0b11, kAll,
         "Example GPU" + times(",", 13) + "GPU\x90\xda\x91\xb1\r\n" + kAllCells + kAllCells + "\r\n",
         kStamp + "1189,5005,37,2929.68,21,54,33,1125,123.456,8,3,1," + kStamp +
             "16778,0,100,0.01,0,-5,,,,-1,0,-1,\r\n"},
        {200, 0xFF, 1u << 9,
         "Example GPU,,GPU\x90\xda\x91\xb1" + times(",,G", 6) + "\r\n" + times(",P-State,", 8) + "\r\n",
         kStamp + "8," + kStamp + "-1," + times(kStamp + "0,", 6) + "\r\n"},
        {3, 0b100, 1u | 1u << 3 | 1u << 8, // Graphics Clock, Memory Usage, Power Draw
         "G\r\n,Graphics Clock,Memory Usage,Power Draw,\r\n", kStamp + "-1,4194303.99,16384.010,\r\n"},
        {1, 0b1, kAll, "", "",
         start +
             "<11>Example GPU:\n<5>\tGraphics Clock      1189 MHz\n\tMemory Clock        5005 MHz\n"
             "<5>\tGPU Load            37 %\n<5>\tMemory Usage        2929.68 MB\n"
             "<5>\tVideo Engine Load   21 %\n<5>\tTemperature         54\n<5>\tFAN Level           33 %\n"
             "<5>\tFAN rpm             1125 rpm\n<5>\tPower(Draw)         123.456 W\n"
             "<5>\tP-State             8\n<5>\tMemory Controller Load   3 %\n<5>\tBus Interface Load  1 %\n" +
             end},
        {2, 0b10, 1u << 1 | 1u << 6 | 1u << 7 | 1u << 8, "",
         "", // Memory Clock, FAN Level, FAN rpm, Power Draw
         start +
             "<11>GPU\x90\xda\x91\xb1:\n<5>\tMemory Clock        0 MHz\n<5>\tFAN Level           No Support\n"
             "<5>\tFAN rpm             No Support\n<5>\tPower(Draw)         No Support\n" +
             end},
    };
    const std::vector<PanelSlotSnapshot> slots = makeSlots();
    for (const auto& c : cases) {
        const LogSelection sel = select(c.gpuCount, c.gpus, c.items);
        EXPECT_EQ(c.header + c.row, c.header.empty() ? ""
                                                     : csvHeaderText(slots.data(), sel) +
                                                           csvDataLine(slots.data(), sel, kTime));
        EXPECT_EQ(c.text, c.text.empty() ? "" : shown(consoleRowBlock(slots.data(), sel, kTime, true)));
    }
}

// A GPU name comes from the Agent as it is: one that would end its cell or
// become a formula is quoted or marked as text; the others keep their bytes.
TEST(CsvFormat, HeaderKeepsAPeersGpuNameInItsCell) {
    const struct {
        std::string sent, cell;
    } cases[] = {
        {"Example GPU", "Example GPU"},
        {"GPU\x90\xda\x91\xb1 (x) 'a' ;", "GPU\x90\xda\x91\xb1 (x) 'a' ;"},
        {"- empty -", "- empty -"},
        {"A,B", "\"A,B\""},
        {"say \"hi\"", "\"say \"\"hi\"\"\""},
        {"A\rB", "\"A\rB\""},
        {"=1+2", "'=1+2"},
        {"+1", "'+1"},
        {"-1", "'-1"},
        {"@SUM(A1)", "'@SUM(A1)"},
        {"=A1,B1", "\"'=A1,B1\""},
    };
    for (const auto& c : cases) {
        std::string text = "192.0.2.20\n1\n" + c.sent + "\nGPU 0(1)\n";
        for (int k = 0; k < kSampleFieldCount; ++k)
            text += "0\n";
        text.resize(kReportBlockBytes, '\0');
        GpuPanelState state;
        initGpuPanelState(state);
        ASSERT_EQ(
            BlockOutcome::Applied,
            applyReportBlock(state, reinterpret_cast<const uint8_t*>(text.data()), IntakeWindowHooks{}));
        std::vector<PanelSlotSnapshot> slots(kGpuSlotCount);
        for (int i = 0; i < kGpuSlotCount; ++i)
            slots[i] = snapshotPanelSlot(state, i);
        EXPECT_EQ(c.cell + "\r\n,GPU Load,\r\n", csvHeaderText(slots.data(), select(1, 0b1, kLoad)));
    }
}

} // namespace
