#include "console/display/panel_content.h"
#include "console/intake/link/readings.h"

#include <gtest/gtest.h>

#include <memory>

// Every reading the meters or the readout show moves the number, and so does
// losing its support and the panel height; the tab label, which they do not
// show, leaves it.
TEST(PanelContent, MovesWithWhatTheMetersAndReadoutShow) {
    auto panel = std::make_unique<GpuPanelState>();
    initGpuPanelState(*panel);
    GpuPanelSlot& slot = panel->slots[0];
    for (int k = 0; k < kSampleFieldCount; ++k)
        setSlotField(slot, SampleField(k), 1);
    const uint64_t base = meterAndReadoutContent(snapshotPanelSlot(*panel, 0), 74);
    for (int r = 0; r < kReadingCount; ++r) {
        for (SampleField f : {kReadings[r].value, kReadings[r].supported}) {
            if (f == kNoField)
                continue;
            setSlotField(slot, f, f == kReadings[r].value ? 123456789 : 0);
            EXPECT_NE(meterAndReadoutContent(snapshotPanelSlot(*panel, 0), 74), base) << r << int(f);
            setSlotField(slot, f, 1);
        }
    }
    EXPECT_NE(meterAndReadoutContent(snapshotPanelSlot(*panel, 0), 77), base) << "panel height";
    setTabLabel(*panel, 0, "X");
    EXPECT_EQ(meterAndReadoutContent(snapshotPanelSlot(*panel, 0), 74), base);
    EXPECT_NE(meterAndReadoutContent(PanelSlotSnapshot{}, 74), 0u);
}
