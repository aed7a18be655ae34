// The CSV lines and the text console's block for the same readings.
#include "console/intake/link/intake.h"
#include "console/intake/logging/csv_choices.h"
#include "console/intake/logging/csv_format.h"
#include "console/intake/logging/log_console_block.h"
#include "protocol/report_block.h"

#include <gtest/gtest.h>

#include <cwchar>
#include <memory>
#include <string>
#include <vector>

namespace {

const LogTime kTime{2026, 3, 7, 9, 8, 7};
const std::string kStamp = "2026/03/07 09:08:07,";

// Slot 0 shows every item; slot 1 the edge cases; slots 2 to 7 are "G" with zeros.
// The fields in line order. Slot 0's fan rpm is printed without its flag; slot
// 1's graphics clock is 16778000 as a float and its fan level and power draw
// lack their flags; slot 2's power draw shows single precision in the third
// decimal.
const int64_t kSlotFields[3][kSampleFieldCount] = {
    {0,  0, 1189500, 5005000, 0, 0, 0, 0, 0, 0, 0,  0, 0, 0, 0,  37, 0,    0, 0, 3000000, 0,
     54, 1, 0,       123456,  0, 0, 8, 0, 3, 0, 21, 0, 1, 1, 33, 0,  1125, 0, 0, 0,       0},
    {0,  0, 16777999, 999,  0, 0, 0,  0, 0, 0, 0, 0, 0,          0, 0,  100, 0, 0, 0, 11, 0,
     -5, 0, 0,        5000, 0, 0, -1, 0, 0, 0, 0, 0, 4294967295, 0, 40, 1,   0, 0, 0, 0,  0},
    {0, 0, -1500, 0,        0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 4294967295, 0,
     0, 1, 0,     16384009, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,          0}};

std::unique_ptr<GpuPanelState> makePanel() {
    auto panel = std::make_unique<GpuPanelState>();
    initGpuPanelState(*panel);
    for (auto& name : panel->fullName)
        std::wcscpy(name, L"G");
    std::wcscpy(panel->fullName[0], L"Example GPU");
    std::wcscpy(panel->fullName[1], L"GPU\u63a5\u7d9a");
    for (int i = 0; i < 3; ++i)
        for (int k = 0; k < kSampleFieldCount; ++k)
            setSlotField(panel->slots[i], SampleField(k), kSlotFields[i][k]);
    return panel;
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

// Every slot's snapshot, as a logged row reads them.
std::vector<PanelSlotSnapshot> snapshots(const GpuPanelState& panel) {
    std::vector<PanelSlotSnapshot> slots(kGpuSlotCount);
    for (int i = 0; i < kGpuSlotCount; ++i)
        slots[i] = snapshotPanelSlot(panel, i);
    return slots;
}

const unsigned kAll = 0xFFF;
// Item bits in the order of CsvItem.
const unsigned kLoad = 1u << 2;
const std::string kAllCells =
    ",Graphics Clock,Memory Clock,GPU Load,Memory Usage,Video Engine Load,Temperature,"
    "FAN Level,FAN rpm,Power Draw,P-State,Memory Controller Load,Bus Interface Load,";

// A row checks the CSV lines where header is given, the selected GPU's console lines where text is.
TEST(CsvFormat, HeaderRowAndConsoleBlock) {
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
         "<11>Example GPU:\n<5>\tGraphics Clock      1189 MHz\n\tMemory Clock        5005 MHz\n"
         "<5>\tGPU Load            37 %\n<5>\tMemory Usage        2929.68 MB\n"
         "<5>\tVideo Engine Load   21 %\n<5>\tTemperature         54\n<5>\tFAN Level           33 %\n"
         "<5>\tFAN rpm             1125 rpm\n<5>\tPower(Draw)         123.456 W\n"
         "<5>\tP-State             8\n<5>\tMemory Controller Load   3 %\n<5>\tBus Interface Load  1 %\n"},
        {2, 0b10, 1u << 1 | 1u << 6 | 1u << 7 | 1u << 8, "",
         "", // Memory Clock, FAN Level, FAN rpm, Power Draw
         "<11>GPU\x90\xda\x91\xb1:\n<5>\tMemory Clock        0 MHz\n<5>\tFAN Level           No Support\n"
         "<5>\tFAN rpm             No Support\n<5>\tPower(Draw)         No Support\n"},
    };
    const std::unique_ptr<GpuPanelState> panel = makePanel();
    const std::vector<PanelSlotSnapshot> slots = snapshots(*panel);
    for (const auto& c : cases) {
        const LogSelection sel = select(c.gpuCount, c.gpus, c.items);
        EXPECT_EQ(c.header + c.row, c.header.empty() ? ""
                                                     : csvHeaderText(slots.data(), sel) +
                                                           csvDataLine(slots.data(), sel, kTime));
        std::string text;
        for (int i = 0; !c.text.empty() && i < kGpuSlotCount; ++i)
            text += sel.gpuSelected[i] ? shown(consoleGpuPieces(slots[i], sel.itemSelected)) : "";
        EXPECT_EQ(c.text, text);
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
            applyReportBlock(state, reinterpret_cast<const uint8_t*>(text.data()), IntakeWindowCallbacks{}));
        EXPECT_EQ(c.cell + "\r\n,GPU Load,\r\n",
                  csvHeaderText(snapshots(state).data(), select(1, 0b1, kLoad)));
    }
}

// The output dialog's GPU boxes: one on for each GPU the Agent reports, up to
// the eighth; the rest off (the first always on).
TEST(CsvChoices, GpuBoxesOnForEveryReportedGpu) {
    const struct {
        int slot, gpus;
        bool on;
    } cases[] = {{0, 0, true}, {1, 2, true}, {2, 2, false}, {7, 8, true}, {7, 7, false}};
    for (const auto& c : cases) {
        const GpuBoxDefault box = gpuBoxDefault(c.slot, c.gpus);
        EXPECT_EQ((std::vector<bool>{box.setText, box.checked, box.enabled}), std::vector<bool>(3, c.on))
            << c.slot << " of " << c.gpus;
    }
}

} // namespace
