#include "metrics/metrics_text.h"

#include <gtest/gtest.h>

#include <cwchar>
#include <string>

namespace {

// GPU 0 gives most readings, two of them with their flag down; GPU 1 runs
// below freezing with its power readings off; GPU 2 is down: its name and
// "up 0" stay, its readings go, and a family whose only series was its own is
// left out whole; slot 3 holds readings but lies beyond the GPU count.
std::string scenarioText() {
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
    s[0].powerDrawSupported = 1, s[0].powerDraw = 65432, s[0].powerLimit = 300000;
    s[0].enforcedPowerLimitSupported = 1, s[0].enforcedPowerLimit = 250000;
    s[0].managementPowerLimitSupported = 1, s[0].managementPowerLimit = 300000;
    s[0].fanRpmSupported = 0, s[0].fanRpm = 1500;
    s[0].coreVoltageSupported = 1, s[0].coreVoltage = 850000;
    std::wcscpy(s[1].fullName, L"Second");
    s[1].temperatureSupported = 1, s[1].temperature = -5;
    s[1].powerDrawSupported = 0, s[1].powerDraw = 99000;
    s[1].videoEngineLoadSupported = 1, s[1].videoEngineLoad = 7;
    std::wcscpy(s[2].fullName, L"Down");
    s[2].temperatureSupported = 1, s[2].temperature = 54;
    s[2].fanLevelSupported = 1, s[2].fanLevel = 40;
    std::wcscpy(s[3].fullName, L"Beyond");
    s[3].temperatureSupported = 1, s[3].temperature = 40;
    const bool up[kGpuSlotCount] = {true, true, false, true};
    return "\n" + metricsText(s, 3, up);
}

TEST(MetricsText, ReadingsInBaseUnitsAndOnlyThoseGiven) {
    const std::string text = scenarioText();
    struct Case {
        const char* text;
        bool present;
    } cases[] = {
        {"\ngaugeline_gpu_info{gpu=\"0\",name=\"Test GPU\"} 1\n", true},
        {"\ngaugeline_gpu_clock_hertz{gpu=\"0\",clock=\"graphics\"} 1733000000\n", true},
        {"gaugeline_gpu_clock_hertz{gpu=\"0\",clock=\"memory\"}", false},
        {"\ngaugeline_gpu_clock_base_hertz{gpu=\"0\",clock=\"graphics\"} 1500000000\n", true},
        {"gaugeline_gpu_clock_base_hertz{gpu=\"0\",clock=\"memory\"}", false},
        {"\ngaugeline_gpu_clock_max_hertz{gpu=\"0\",clock=\"graphics\"} 2520000000\n", true},
        {"gaugeline_gpu_clock_max_hertz{gpu=\"0\",clock=\"memory\"}", false},
        {"\ngaugeline_gpu_utilization_ratio{gpu=\"0\",engine=\"graphics\"} 0.55\n", true},
        {"\ngaugeline_gpu_utilization_ratio{gpu=\"1\",engine=\"video\"} 0.07\n", true},
        {"\ngaugeline_gpu_memory_total_bytes{gpu=\"0\"} 8589934592\n", true},
        {"gaugeline_gpu_memory_total_bytes{gpu=\"1\"}", false},
        {"\ngaugeline_gpu_memory_used_bytes{gpu=\"0\"} 1073742848\n", true},
        {"\ngaugeline_gpu_temperature_celsius{gpu=\"0\"} 54\n", true},
        {"\ngaugeline_gpu_temperature_celsius{gpu=\"1\"} -5\n", true},
        {"\ngaugeline_gpu_power_watts{gpu=\"0\"} 65.432\n", true},
        {"\ngaugeline_gpu_power_limit_watts{gpu=\"0\"} 250\n", true},
        {"\ngaugeline_gpu_power_management_limit_watts{gpu=\"0\"} 300\n", true},
        {"gaugeline_gpu_power_limit_watts{gpu=\"1\"}", false},
        {"gaugeline_gpu_power_watts{gpu=\"1\"}", false},
        {"gaugeline_gpu_fan_rpm", false},
        {"\ngaugeline_gpu_core_voltage_volts{gpu=\"0\"} 0.85\n", true},
        {"\n# HELP gaugeline_gpu_temperature_celsius ", true},
        {"\n# TYPE gaugeline_gpu_temperature_celsius gauge\n", true},
        {"\ngaugeline_gpu_up{gpu=\"0\"} 1\n", true},
        {"\ngaugeline_gpu_up{gpu=\"2\"} 0\n", true},
        {"\n# TYPE gaugeline_gpu_up gauge\n", true},
        {"\ngaugeline_gpu_info{gpu=\"2\",name=\"Down\"} 1\n", true},
        {"gaugeline_gpu_temperature_celsius{gpu=\"2\"}", false},
        {"gaugeline_gpu_fan_ratio", false},
        {"gpu=\"3\"", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.present, text.find(c.text) != std::string::npos) << c.text << "\nin:" << text;
}

TEST(MetricsText, NamesAreUtf8LabelValues) {
    struct Case {
        wchar_t name[6];
        const char* label;
    } cases[] = {
        {L"a\"b\\\n", "a\\\"b\\\\\\n"},
        {L"\u00E9\u4E2D", "\xC3\xA9\xE4\xB8\xAD"},
        {L"x\U0001F600", "x\xF0\x9F\x98\x80"}, // a surrogate pair where wchar_t has 16 bits
        {{wchar_t(0xD800), L'x', 0}, "\xEF\xBF\xBDx"},
        {{wchar_t(0xDC00), 0}, "\xEF\xBF\xBD"},
    };
    for (const Case& c : cases) {
        GpuSample s[kGpuSlotCount];
        clearGpuSample(&s[0]);
        std::wcscpy(s[0].fullName, c.name);
        const bool up[kGpuSlotCount] = {true};
        EXPECT_NE(std::string::npos,
                  metricsText(s, 1, up).find(std::string("{gpu=\"0\",name=\"") + c.label + "\"} 1\n"))
            << c.label;
    }
}

} // namespace
