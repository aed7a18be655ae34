#include "console/intake/logging/log_console_block.h"

#include "protocol/text_cp932.h"

#include <cstdio>

namespace {

std::string withNumber(const char* format, int value) {
    char text[96];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string withText(const char* format, const std::string& value) {
    char text[128];
    std::snprintf(text, sizeof text, format, value.c_str());
    return text;
}

std::string cp932(const wchar_t* text) {
    char bytes[160];
    wideToCp932(text, bytes, sizeof bytes);
    return bytes;
}

} // namespace

std::string consoleItemLine(const PanelSlotSnapshot& slot, CsvItem item) {
    switch (item) {
    case CsvItem::GraphicsClock:
        return withNumber("\tGraphics Clock      %d MHz\n", clockMhz(slot.graphicsClock));
    case CsvItem::MemoryClock:
        return withNumber("\tMemory Clock        %d MHz\n", clockMhz(slot.memoryClock));
    case CsvItem::GpuLoad:
        return withNumber("\tGPU Load            %d %%\n", slot.gpuLoad);
    case CsvItem::MemoryUsage:
        return withText("\tMemory Usage        %s MB\n", memoryMbText(slot.memoryUsage));
    case CsvItem::VideoEngineLoad:
        return withNumber("\tVideo Engine Load   %d %%\n", static_cast<int32_t>(slot.videoEngineLoad));
    case CsvItem::Temperature:
        return withNumber("\tTemperature         %d\n", slot.temperature);
    case CsvItem::FanLevel:
        if (slot.fanLevelSupported == 0)
            return "\tFAN Level           No Support\n";
        return withNumber("\tFAN Level           %d %%\n", static_cast<int32_t>(slot.fanLevel));
    case CsvItem::FanRpm:
        if (slot.fanRpm == 0)
            return "\tFAN rpm             No Support\n";
        return withNumber("\tFAN rpm             %d rpm\n", static_cast<int32_t>(slot.fanRpm));
    case CsvItem::PowerDraw:
        if (slot.powerDrawSupported == 0)
            return "\tPower(Draw)         No Support\n";
        return withText("\tPower(Draw)         %s W\n", powerWattsText(slot.powerDraw));
    case CsvItem::PState:
        return withNumber("\tP-State             %d\n", slot.pState);
    case CsvItem::MemoryControllerLoad:
        return withNumber("\tMemory Controller Load   %d %%\n",
                          static_cast<int32_t>(slot.memoryControllerLoad));
    case CsvItem::BusInterfaceLoad:
        return withNumber("\tBus Interface Load  %d %%\n", static_cast<int32_t>(slot.busInterfaceLoad));
    default:
        return "";
    }
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
