// Any bytes a peer can send as a report block: the intake must stay inside
// the block, the line buffer and the eight slots.
#include "console/intake/link/intake.h"

#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static GpuPanelState state;
    static bool ready = false;
    if (!ready) {
        initGpuPanelState(state);
        ready = true;
    }
    uint8_t block[kReportBlockBytes];
    std::memset(block, 0, sizeof block);
    std::memcpy(block, data, size < sizeof block ? size : sizeof block);
    IntakeWindowHooks hooks;
    applyReportBlock(state, block, hooks);
    PanelSlotSnapshot snap = snapshotPanelSlot(state, usableGpuCount(state) - 1);
    (void)snap;
    if (size > 0 && data[0] == 'R')
        resetGpuPanelState(state, hooks);
    return 0;
}
