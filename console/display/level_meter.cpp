#include "console/display/level_meter.h"

#include "console/display/value_format.h"
#include "console/intake/link/readings.h"

#include <cmath>
#include <cwchar>

namespace {

const wchar_t kNoSupport[] = L"No Support";

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
    const ReadingInfo& reading = readingInfo(graphedReading(static_cast<int>(panel)));
    double value = static_cast<double>(snapshotField(slot, reading.value));
    int64_t maximum = 100;
    if (reading.meterScale != kNoField && snapshotField(slot, reading.meterScale) != 0)
        maximum = snapshotField(slot, reading.meterScale);
    else if (reading.second != kNoField)
        maximum = snapshotField(slot, reading.second);
    if (!(maximum > 0))
        return false;
    *ratio = value / static_cast<double>(maximum);
    return true;
}

int meterLitCount(const PanelSlotSnapshot& slot, PlotPanel panel, int segments) {
    double ratio = 0;
    if (segments <= 0 || !meterRatio(slot, panel, &ratio))
        return 0;
    // The memory meter is reckoned in double precision, the others in single.
    if (readingInfo(graphedReading(static_cast<int>(panel))).screenScale == ScreenScale::Kibibytes)
        return litFrom(ratio * segments + 0.5, segments);
    float r = static_cast<float>(ratio);
    return litFrom(static_cast<double>(r * static_cast<float>(segments) + 0.5f), segments);
}

int meterCaption(const PanelSlotSnapshot& slot, PlotPanel panel, wchar_t out[kMeterCaptionChars]) {
    const ReadingInfo& reading = readingInfo(graphedReading(static_cast<int>(panel)));
    if (snapshotField(slot, reading.supported) == 0) {
        std::wcsncpy(out, kNoSupport, kMeterCaptionChars);
        return 14;
    }
    wchar_t number[kValueTextBytes];
    formatScreenValue(snapshotField(slot, reading.value), reading.screenScale, number);
    std::swprintf(out, kMeterCaptionChars, L"%ls%ls", number, reading.unit);
    return reading.captionX;
}
