#include "console/display/panel_content.h"

#include <gtest/gtest.h>

#include <cwchar>
#include <functional>

namespace {

PanelSlotSnapshot shownGpu() {
    PanelSlotSnapshot s{};
    std::wcscpy(s.fullName, L"Example GPU");
    s.graphicsClockSupported = s.memoryClockSupported = s.gpuLoadSupported = 1;
    s.memoryUsageSupported = s.temperatureSupported = s.powerDrawSupported = s.fanRpmSupported = 1;
    s.graphicsClock = 1500;
    s.graphicsClockRated = 2000;
    s.memoryClock = 7000;
    s.memoryClockRated = 8000;
    s.gpuLoad = 40;
    s.memoryTotal = 8192;
    s.memoryUsage = 2048;
    s.temperature = 55;
    s.powerLimit = 200;
    s.powerDraw = 120;
    s.fanRpm = 1500;
    return s;
}

// Every reading the meters or the readout show moves the number; what they
// do not show (the tab label) leaves it.
TEST(PanelContent, MovesWithWhatTheMetersAndReadoutShow) {
    const PanelSlotSnapshot base = shownGpu();
    const uint64_t baseKey = meterAndReadoutContent(base, 74);
    const struct {
        const char* name;
        std::function<void(PanelSlotSnapshot&)> change;
    } shown[] = {
        {"graphics clock", [](PanelSlotSnapshot& s) { s.graphicsClock += 100000; }},
        {"memory clock", [](PanelSlotSnapshot& s) { s.memoryClock += 100000; }},
        {"gpu load", [](PanelSlotSnapshot& s) { s.gpuLoad += 1; }},
        {"memory usage", [](PanelSlotSnapshot& s) { s.memoryUsage += 1048576; }},
        {"temperature", [](PanelSlotSnapshot& s) { s.temperature += 1; }},
        {"power draw", [](PanelSlotSnapshot& s) { s.powerDraw += 10000; }},
        {"fan speed", [](PanelSlotSnapshot& s) { s.fanRpm += 1; }},
        {"temperature unsupported", [](PanelSlotSnapshot& s) { s.temperatureSupported = 0; }},
    };
    for (const auto& c : shown) {
        PanelSlotSnapshot s = base;
        c.change(s);
        EXPECT_NE(meterAndReadoutContent(s, 74), baseKey) << c.name;
    }
    EXPECT_NE(meterAndReadoutContent(base, 77), baseKey) << "panel height";
    PanelSlotSnapshot tab = base;
    tab.tabLabel[0] = 'X';
    EXPECT_EQ(meterAndReadoutContent(tab, 74), baseKey);
    EXPECT_NE(meterAndReadoutContent(PanelSlotSnapshot{}, 74), 0u);
}

} // namespace
