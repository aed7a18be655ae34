#include "console/intake/logging/csv_format.h"

#include "protocol/text_cp932.h"
#include "protocol/wire.h"
#include "resources/console/console_resources.h"

#include <cstdio>
#include <cstring>

const CsvItemInfo kCsvItems[kCsvItemCount] = {
    {IDC_ITEM_GRAPHICS_CLOCK, Reading::GraphicsClock},
    {IDC_ITEM_MEMORY_CLOCK, Reading::MemoryClock},
    {IDC_ITEM_GPU_LOAD, Reading::GpuLoad},
    {IDC_ITEM_MEMORY_USAGE, Reading::MemoryUsage},
    {IDC_ITEM_VIDEO_ENGINE_LOAD, Reading::VideoEngineLoad},
    {IDC_ITEM_TEMPERATURE, Reading::Temperature},
    {IDC_ITEM_FAN_LEVEL, Reading::FanLevel},
    {IDC_ITEM_FAN_RPM, Reading::FanRpm},
    {IDC_ITEM_POWER_DRAW, Reading::PowerDraw},
    {IDC_ITEM_P_STATE, Reading::PState},
    {IDC_ITEM_MEMORY_CONTROLLER_LOAD, Reading::MemoryControllerLoad},
    {IDC_ITEM_BUS_INTERFACE_LOAD, Reading::BusInterfaceLoad},
};

namespace {

int clampedCount(int gpuCount) {
    if (gpuCount < 0)
        return 0;
    return gpuCount > kGpuSlotCount ? kGpuSlotCount : gpuCount;
}

std::string decimal(int32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%d", static_cast<int>(value));
    return text;
}

// Clock in kHz as whole MHz: single-precision division, cut toward zero.
int clockMhz(int32_t kiloHertz) {
    float mhz = static_cast<float>(kiloHertz) / 1000.0f;
    return static_cast<int>(mhz);
}

std::string powerWattsText(int32_t milliWatts) {
    float watts = static_cast<float>(milliWatts) / 1000.0f;
    char text[64];
    std::snprintf(text, sizeof text, "%.3f", static_cast<double>(watts));
    return text;
}

std::string memoryMbText(uint32_t kib) {
    double mib = static_cast<double>(kib) * (1.0 / 1024.0);
    uint64_t thousandths = static_cast<uint64_t>(mib * 1000.0);
    char text[32];
    std::snprintf(text, sizeof text, "%llu.%02u", static_cast<unsigned long long>(thousandths / 1000),
                  static_cast<unsigned>(thousandths % 1000 / 10));
    return text;
}

std::string fullNameCp932(const PanelSlotSnapshot& slot) {
    // 39 wide characters need at most 78 bytes.
    char name[2 * kFullNameChars + 2];
    wideToCp932(slot.fullName, name, sizeof name);
    return name;
}

// The name is the Agent's text: it must not end its cell early, nor become a
// formula when the file is opened in a spreadsheet. Ordinary names stay as
// they are. The bytes looked at never occur inside a code page 932 character
// (second bytes are 0x40 and up, first bytes 0x81 and up), so the scan is safe
// on the converted text.
std::string headerNameCell(const std::string& name) {
    std::string cell = name;
    if (!cell.empty() && std::strchr("=+-@", cell[0]) && cell != kEmptyGpuName)
        cell.insert(0, 1, '\'');
    if (cell.find_first_of(",\"\r\n") == std::string::npos)
        return cell;
    std::string quoted = "\"";
    for (char c : cell) {
        if (c == '"')
            quoted += '"';
        quoted += c;
    }
    return quoted + '"';
}

} // namespace

LogSelection readLogSelection(const CsvSettings& csv, int gpuCount) {
    LogSelection selection;
    selection.gpuCount = clampedCount(gpuCount);
    for (int i = 0; i < kGpuSlotCount; ++i)
        selection.gpuSelected[i] = csv.csvGpuSelected[i].load(std::memory_order_relaxed) != 0;
    for (int k = 0; k < kCsvItemCount; ++k)
        selection.itemSelected[k] = csv.csvItemSelected[k].load(std::memory_order_relaxed) != 0;
    return selection;
}

int selectedItemCount(const LogSelection& selection) {
    int n = 0;
    for (bool on : selection.itemSelected)
        n += on ? 1 : 0;
    return n;
}

std::string timeStampText(const LogTime& time, char terminator) {
    char text[80];
    std::snprintf(text, sizeof text, "%d/%02d/%02d %02d:%02d:%02d%c", time.year, time.month, time.day,
                  time.hour, time.minute, time.second, terminator);
    return text;
}

std::string logValueText(const PanelSlotSnapshot& slot, CsvItem item) {
    const ReadingInfo& reading = readingInfo(kCsvItems[static_cast<int>(item)].reading);
    const int64_t value = snapshotField(slot, reading.value);
    if ((reading.logBlank == LogBlank::Unsupported && snapshotField(slot, reading.supported) == 0) ||
        (reading.logBlank == LogBlank::Zero && value == 0))
        return "";
    switch (reading.logScale) {
    case LogScale::WholeMhz:
        return decimal(clockMhz(static_cast<int32_t>(value)));
    case LogScale::Kibibytes:
        return memoryMbText(static_cast<uint32_t>(value));
    case LogScale::Watts:
        return powerWattsText(static_cast<int32_t>(value));
    case LogScale::Plain:
        break;
    }
    return decimal(static_cast<int32_t>(value));
}

std::string csvHeaderText(const PanelSlotSnapshot* slots, const LogSelection& selection) {
    const int count = clampedCount(selection.gpuCount);
    const int n = selectedItemCount(selection);
    std::string names;
    std::string cells;
    bool first = true;
    for (int i = 0; i < count; ++i) {
        if (!selection.gpuSelected[i])
            continue;
        if (!first)
            names.append(static_cast<size_t>(n + 1), ',');
        names += headerNameCell(fullNameCp932(slots[i]));
        first = false;
        for (int k = 0; k < kCsvItemCount; ++k)
            if (selection.itemSelected[k])
                cells.append(",").append(readingInfo(kCsvItems[k].reading).logName);
        cells += ',';
    }
    return names + "\r\n" + cells + "\r\n";
}

std::string csvDataLine(const PanelSlotSnapshot* slots, const LogSelection& selection, const LogTime& time) {
    const int count = clampedCount(selection.gpuCount);
    const std::string stamp = timeStampText(time, ',');
    std::string line;
    for (int i = 0; i < count; ++i) {
        if (!selection.gpuSelected[i])
            continue;
        line += stamp;
        for (int k = 0; k < kCsvItemCount; ++k)
            if (selection.itemSelected[k])
                line += logValueText(slots[i], static_cast<CsvItem>(k)) + ",";
    }
    return line + "\r\n";
}
