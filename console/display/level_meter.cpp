#include "console/display/level_meter.h"

#include "console/display/value_format.h"

#include <cmath>
#include <cwchar>

namespace {

const wchar_t kNoSupport[] = L"No Support";

int32_t clockMaximum(int32_t scale, int32_t rated) {
    return scale != 0 ? scale : rated;
}

int litFrom(double scaled, int segments) {
    if (!(scaled > 0))
        return 0;
    if (scaled >= segments)
        return segments;
    return static_cast<int>(std::trunc(scaled));
}

} // namespace

int meterSegmentCount(int p) {
    return p <= 32 ? 0 : (p - 32 + 2) / 3;
}

bool meterHasTopStrip(int p) {
    return p > 32 && (p - 32) % 3 == 0;
}

int meterSegmentY(int p, int segment) {
    return p - 27 - 3 * segment;
}

bool meterRatio(const PanelSlotSnapshot& slot, PlotPanel panel, double* ratio) {
    double value = 0;
    double maximum = 0;
    switch (panel) {
    case PlotPanel::GraphicsClock:
        value = slot.graphicsClock;
        maximum = clockMaximum(slot.graphicsClockScale, slot.graphicsClockRated);
        break;
    case PlotPanel::MemoryClock:
        value = slot.memoryClock;
        maximum = clockMaximum(slot.memoryClockScale, slot.memoryClockRated);
        break;
    case PlotPanel::GpuLoad:
        value = slot.gpuLoad;
        maximum = 100;
        break;
    case PlotPanel::MemoryUsage:
        value = slot.memoryUsage;
        maximum = slot.memoryTotal;
        break;
    case PlotPanel::Temperature:
        value = slot.temperature;
        maximum = 100;
        break;
    case PlotPanel::PowerDraw:
        value = slot.powerDraw;
        maximum = slot.powerLimit;
        break;
    default:
        return false;
    }
    if (!(maximum > 0))
        return false;
    *ratio = value / maximum;
    return true;
}

int meterLitCount(const PanelSlotSnapshot& slot, PlotPanel panel, int segments) {
    double ratio = 0;
    if (segments <= 0 || !meterRatio(slot, panel, &ratio))
        return 0;
    if (panel == PlotPanel::MemoryUsage)
        return litFrom(ratio * segments + 0.5, segments);
    float r = static_cast<float>(ratio);
    return litFrom(static_cast<double>(r * static_cast<float>(segments) + 0.5f), segments);
}

int meterCaption(const PanelSlotSnapshot& slot, PlotPanel panel, wchar_t out[kMeterCaptionChars]) {
    wchar_t number[kValueTextBytes];
    int32_t supported = 0;
    int x = 14;
    const wchar_t* unit = L"";
    switch (panel) {
    case PlotPanel::GraphicsClock:
        supported = slot.graphicsClockSupported;
        formatTwoDecimal(slot.graphicsClock, number);
        unit = L" MHz";
        x = 12;
        break;
    case PlotPanel::MemoryClock:
        supported = slot.memoryClockSupported;
        formatTwoDecimal(slot.memoryClock, number);
        unit = L" MHz";
        x = 12;
        break;
    case PlotPanel::GpuLoad:
        supported = slot.gpuLoadSupported;
        formatDecimalValue(slot.gpuLoad, number);
        unit = L" %";
        x = 32;
        break;
    case PlotPanel::MemoryUsage:
        supported = slot.memoryUsageSupported;
        formatMebibytes(slot.memoryUsage, number);
        unit = L" MB";
        x = 16;
        break;
    case PlotPanel::Temperature:
        supported = slot.temperatureSupported;
        formatDecimalValue(slot.temperature, number);
        unit = L" \u2103";
        x = 29;
        break;
    case PlotPanel::PowerDraw:
        supported = slot.powerDrawSupported;
        formatTwoDecimal(slot.powerDraw, number);
        unit = L" W";
        x = 22;
        break;
    default:
        break;
    }
    if (supported == 0) {
        std::wcsncpy(out, kNoSupport, kMeterCaptionChars);
        return 14;
    }
    std::swprintf(out, kMeterCaptionChars, L"%ls%ls", number, unit);
    return x;
}
