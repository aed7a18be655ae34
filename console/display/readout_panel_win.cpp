#include "console/display/console_paint_win.h"
#include "console/display/plot_geometry.h"
#include "console/display/readout_panel.h"

#include <cwchar>

void paintReadoutPanel(PanelImages& images, const ShownGpu& shown, HDC offscreen, int outerHeight) {
    Surface& panel = images.readoutImage;
    if (!keepSurface(panel, kReadoutWidth, kReadoutHeight, RGB(255, 255, 255), images.font))
        return;
    ReadoutRow rows[kReadoutRowCount];
    buildReadoutRows(shown.readings, rows);
    SetBkMode(panel.dc, TRANSPARENT);
    SetTextColor(panel.dc, RGB(0, 0, 0));
    for (const ReadoutRow& row : rows) {
        TextOutW(panel.dc, row.labelX, row.y, row.label, static_cast<int>(std::wcslen(row.label)));
        TextOutW(panel.dc, row.valueX, row.y, row.value, static_cast<int>(std::wcslen(row.value)));
    }
    BitBlt(offscreen, 22, outerHeight - 162, kReadoutWidth, kReadoutHeight, panel.dc, 0, 0, SRCCOPY);
}
