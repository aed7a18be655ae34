#include "metrics/metrics_text.h"

#include <gtest/gtest.h>

#include <cwchar>
#include <string>

namespace {

// GPU 0 gives most readings, one with its flag down; GPU 1 runs below
// freezing under a name that needs every kind of care as a label value; GPU 2
// is down: its name and "up 0" stay, its readings go, and a family whose only
// series was its own is left out whole; slot 3 holds readings but lies beyond
// the GPU count. Each piece below runs up to the next family's header, so a
// series it leaves out is absent.
TEST(MetricsText, ReadingsInBaseUnitsAndOnlyThoseGiven) {
    GpuSample s[kGpuSlotCount];
    for (GpuSample& sample : s)
        clearGpuSample(&sample);
    std::wcscpy(s[0].fullName, L"Test GPU");
    s[0].graphicsClockSupported = 1, s[0].graphicsClock = 1733000;
    s[0].memoryClockSupported = 0, s[0].memoryClock = 7000000;
    s[0].graphicsClockRated = 1500000;
    s[0].graphicsClockMax = 2520000;
    s[0].gpuLoadSupported = 1, s[0].gpuLoad = 55;
    s[0].memoryTotal = 8388608;
    s[0].memoryUsageSupported = 1, s[0].memoryUsage = 1048577;
    s[0].temperatureSupported = 1, s[0].temperature = 54;
    s[0].powerDrawSupported = 1, s[0].powerDraw = 65432;
    s[0].enforcedPowerLimitSupported = 1, s[0].enforcedPowerLimit = 250000;
    s[0].managementPowerLimitSupported = 1, s[0].managementPowerLimit = 300000;
    s[0].coreVoltageSupported = 1, s[0].coreVoltage = 850000;
    // Escapes, UTF-8 of one, two, three and four bytes (a surrogate pair where
    // wchar_t has 16 bits), lone surrogates.
    const std::wstring name =
        std::wstring(L"a\"b\\\n\u00E9\u4E2Dx\U0001F600") + wchar_t(0xD800) + L"x" + wchar_t(0xDC00);
    std::wcscpy(s[1].fullName, name.c_str());
    s[1].temperatureSupported = 1, s[1].temperature = -5;
    s[1].videoEngineLoadSupported = 1, s[1].videoEngineLoad = 7;
    std::wcscpy(s[2].fullName, L"Down");
    s[2].temperatureSupported = 1, s[2].temperature = 54;
    s[2].fanLevelSupported = 1, s[2].fanLevel = 40;
    std::wcscpy(s[3].fullName, L"Beyond");
    s[3].temperatureSupported = 1, s[3].temperature = 40;
    const bool up[kGpuSlotCount] = {true, true, false, true};
    GpuHealth h[kGpuSlotCount];
    for (int i = 0; i < 4; ++i)
        h[i].identity.uuid[0] = 'U', h[i].identity.uuid[1] = static_cast<char>('0' + i);
    const std::string text = metricsText(s, h, 3, up, "");
    const char* pieces[] = {
        "# TYPE gaugeline_gpu_info gauge\n"
        "gaugeline_gpu_info{gpu=\"0\",uuid=\"U0\",name=\"Test GPU\",pci_bus_id=\"\",driver_version=\"\"} 1\n"
        "gaugeline_gpu_info{gpu=\"1\",uuid=\"U1\",name="
        "\"a\\\"b\\\\\\n\xC3\xA9\xE4\xB8\xADx\xF0\x9F\x98\x80\xEF\xBF\xBDx\xEF\xBF\xBD\",pci_bus_id=\"\","
        "driver_version=\"\"} 1\n"
        "gaugeline_gpu_info{gpu=\"2\",uuid=\"U2\",name=\"Down\",pci_bus_id=\"\",driver_version=\"\"} 1\n# "
        "HELP gaugeline_gpu_up 1 while",
        "# TYPE gaugeline_gpu_up gauge\ngaugeline_gpu_up{gpu=\"0\",uuid=\"U0\"} "
        "1\ngaugeline_gpu_up{gpu=\"1\",uuid=\"U1\"} 1\n"
        "gaugeline_gpu_up{gpu=\"2\",uuid=\"U2\"} 0\n# HELP gaugeline_gpu_clock_hertz Current clock",
        "gauge\ngaugeline_gpu_clock_hertz{gpu=\"0\",uuid=\"U0\",clock=\"graphics\"} 1733000000\n# HELP",
        "gauge\ngaugeline_gpu_clock_base_hertz{gpu=\"0\",uuid=\"U0\",clock=\"graphics\"} 1500000000\n# HELP",
        "gauge\ngaugeline_gpu_clock_max_hertz{gpu=\"0\",uuid=\"U0\",clock=\"graphics\"} 2520000000\n# HELP",
        "gauge\ngaugeline_gpu_utilization_ratio{gpu=\"0\",uuid=\"U0\",engine=\"graphics\"} 0.55\n"
        "gaugeline_gpu_utilization_ratio{gpu=\"1\",uuid=\"U1\",engine=\"video\"} 0.07\n# HELP",
        "gauge\ngaugeline_gpu_memory_total_bytes{gpu=\"0\",uuid=\"U0\"} 8589934592\n# HELP",
        "gauge\ngaugeline_gpu_memory_used_bytes{gpu=\"0\",uuid=\"U0\"} 1073742848\n# HELP",
        "# HELP gaugeline_gpu_temperature_celsius GPU temperature in degrees Celsius.\n"
        "# TYPE gaugeline_gpu_temperature_celsius "
        "gauge\ngaugeline_gpu_temperature_celsius{gpu=\"0\",uuid=\"U0\"} 54\n"
        "gaugeline_gpu_temperature_celsius{gpu=\"1\",uuid=\"U1\"} -5\n# HELP",
        "gauge\ngaugeline_gpu_power_watts{gpu=\"0\",uuid=\"U0\"} 65.432\n# HELP",
        "gauge\ngaugeline_gpu_power_limit_watts{gpu=\"0\",uuid=\"U0\"} 250\n# HELP",
        "gauge\ngaugeline_gpu_power_management_limit_watts{gpu=\"0\",uuid=\"U0\"} 300\n# HELP "
        "gaugeline_gpu_core_voltage_volts",
    };
    for (const char* piece : pieces)
        EXPECT_NE(std::string::npos, text.find(piece)) << piece << "\nin:\n" << text;
    const std::string end = "gauge\ngaugeline_gpu_core_voltage_volts{gpu=\"0\",uuid=\"U0\"} 0.85\n";
    EXPECT_EQ(end, text.substr(text.size() - end.size())) << text;
}

} // namespace
