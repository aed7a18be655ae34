// The sixteen labelled readings of the "GPU インフォメーション" panel.
#pragma once
#include "console/intake/link/panel_state.h"

constexpr int kReadoutRowCount = 16;
constexpr int kReadoutLabelChars = 32;
constexpr int kReadoutValueChars = 64;

struct ReadoutRow {
    int labelX = 0;
    int valueX = 0;
    int y = 0;
    wchar_t label[kReadoutLabelChars] = {};
    wchar_t value[kReadoutValueChars] = {};
};

// Rows in drawing order: the left column top to bottom, then the right one.
void buildReadoutRows(const PanelSlotSnapshot& slot, ReadoutRow rows[kReadoutRowCount]);
