// What the level meters and the readout panel show of a GPU slot, as one
// number: equal numbers draw the same pixels (for the same panel height), so
// the tick need not repaint them while the number stays.
#pragma once
#include "console/intake/link/panel_state.h"

#include <cstdint>

// 0 is never returned: callers use it for "nothing known on screen".
uint64_t meterAndReadoutContent(const PanelSlotSnapshot& slot, int panelHeight);
