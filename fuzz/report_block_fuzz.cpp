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
    // An input ending in an odd byte is repeated to fill the block, so that
    // blocks with no NUL (a peer's, not the Agent's NUL-padded ones) come from
    // short inputs too; others are padded with NULs.
    uint8_t block[kReportBlockBytes];
    std::memset(block, 0, sizeof block);
    const bool repeat = size > 0 && (data[size - 1] & 1);
    for (size_t at = 0; size > 0 && at < sizeof block && (at == 0 || repeat);) {
        size_t n = size < sizeof block - at ? size : sizeof block - at;
        std::memcpy(block + at, data, n);
        at += n;
    }
    IntakeWindowCallbacks hooks;
    applyReportBlock(state, block, hooks);
    PanelSlotSnapshot snap = snapshotPanelSlot(state, usableGpuCount(state) - 1);
    (void)snap;
    if (size > 0 && data[0] == 'R')
        resetGpuPanelState(state, hooks);
    return 0;
}
