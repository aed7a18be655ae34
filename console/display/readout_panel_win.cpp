#include "console/display/console_paint_win.h"
#include "console/display/plot_geometry.h"
#include "console/display/readout_panel.h"

#include <cwchar>

void paintReadoutPanel(ConsoleApp& app, HDC offscreen, int outerHeight) {
    Surface panel;
    if (!createSurface(panel, kReadoutWidth, kReadoutHeight, RGB(255, 255, 255)))
        return;
    ReadoutRow rows[kReadoutRowCount];
    buildReadoutRows(shownSnapshot(app), rows);
    HGDIOBJ previousFont = app.font ? SelectObject(panel.dc, app.font) : nullptr;
    SetBkMode(panel.dc, TRANSPARENT);
    SetTextColor(panel.dc, RGB(0, 0, 0));
    for (const ReadoutRow& row : rows) {
        TextOutW(panel.dc, row.labelX, row.y, row.label, static_cast<int>(std::wcslen(row.label)));
        TextOutW(panel.dc, row.valueX, row.y, row.value, static_cast<int>(std::wcslen(row.value)));
    }
    if (previousFont)
        SelectObject(panel.dc, previousFont);
    BitBlt(offscreen, 22, outerHeight - 162, kReadoutWidth, kReadoutHeight, panel.dc, 0, 0, SRCCOPY);
    releaseSurface(panel);
}
