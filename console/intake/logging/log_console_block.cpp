#include "console/intake/logging/log_console_block.h"

#include "protocol/text_cp932.h"

#include <cstdio>

namespace {

std::string cp932(const wchar_t* text) {
    char bytes[160];
    wideToCp932(text, bytes, sizeof bytes);
    return bytes;
}

} // namespace

std::string consoleItemLine(const PanelSlotSnapshot& slot, CsvItem item) {
    const ReadingInfo& reading = readingInfo(kCsvItems[static_cast<int>(item)].reading);
    const std::string value = logValueText(slot, item);
    return std::string("\t") + reading.consoleName +
           (value.empty() ? "No Support" : value + reading.logUnit) + "\n";
}

std::vector<ConsolePiece> consoleBlockStart(const LogTime& time) {
    return {{kAttrKeep, timeStampText(time, ' ')}, {kAttrKeep, "==============================\n"}};
}

std::vector<ConsolePiece> consoleGpuPieces(const PanelSlotSnapshot& slot,
                                           const bool itemSelected[kCsvItemCount]) {
    std::vector<ConsolePiece> pieces;
    pieces.push_back({kAttrGpuName, cp932(slot.fullName) + ":\n"});
    const bool graphics = itemSelected[static_cast<int>(CsvItem::GraphicsClock)];
    const bool memory = itemSelected[static_cast<int>(CsvItem::MemoryClock)];
    if (graphics || memory) {
        std::string clocks;
        if (graphics)
            clocks += consoleItemLine(slot, CsvItem::GraphicsClock);
        if (memory)
            clocks += consoleItemLine(slot, CsvItem::MemoryClock);
        pieces.push_back({kAttrValue, clocks});
    }
    for (int k = static_cast<int>(CsvItem::GpuLoad); k < kCsvItemCount; ++k)
        if (itemSelected[k])
            pieces.push_back({kAttrValue, consoleItemLine(slot, static_cast<CsvItem>(k))});
    return pieces;
}

ConsolePiece consoleBlockEnd() {
    return {kAttrKeep, "==================================================\n"};
}

ConsolePiece consoleMissingFile() {
    return {kAttrKeep, cp932(L"csvファイルが見つかりません\n")};
}
