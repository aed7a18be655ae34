#include "console/display/panel_content.h"

#include "console/display/level_meter.h"
#include "console/display/readout_panel.h"

#include <cwchar>

namespace {

// FNV-1a over the drawn inputs.
void mix(uint64_t& h, const void* data, size_t bytes) {
    const auto* p = static_cast<const unsigned char*>(data);
    for (size_t i = 0; i < bytes; ++i) {
        h ^= p[i];
        h *= 1099511628211ull;
    }
}

void mixText(uint64_t& h, const wchar_t* text) {
    mix(h, text, (std::wcslen(text) + 1) * sizeof(wchar_t));
}

void mixInt(uint64_t& h, int value) {
    mix(h, &value, sizeof value);
}

} // namespace

uint64_t meterAndReadoutContent(const PanelSlotSnapshot& slot, int panelHeight) {
    uint64_t h = 14695981039346656037ull;
    mixInt(h, panelHeight);
    int segments = meterSegmentCount(panelHeight);
    for (PlotPanel panel : kPlotPanels) {
        wchar_t caption[kMeterCaptionChars];
        mixInt(h, meterCaption(slot, panel, caption));
        mixText(h, caption);
        mixInt(h, meterLitCount(slot, panel, segments));
    }
    ReadoutRow rows[kReadoutRowCount];
    buildReadoutRows(slot, rows);
    for (const ReadoutRow& row : rows) {
        mixInt(h, row.labelX);
        mixInt(h, row.valueX);
        mixInt(h, row.y);
        mixText(h, row.label);
        mixText(h, row.value);
    }
    return h != 0 ? h : 1;
}
