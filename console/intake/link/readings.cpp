#include "console/intake/link/readings.h"

using F = SampleField;
constexpr F kNone = kNoField;

const ReadingInfo kReadings[kReadingCount] = {
    {F::graphicsClockSupported, F::graphicsClock, L"GPU Graphics Clock: ", L"", L" MHz",
     ScreenScale::Thousandths, F::graphicsClockRated, kNone, true, 0, F::memoryClockSupported,
     F::graphicsClockScale, 12, "Graphics Clock", "Graphics Clock      ", " MHz", LogScale::WholeMhz,
     LogBlank::Never, true},
    {F::processorClockSupported, F::processorClock, L"GPU Processor Clock: ", L"", L" MHz",
     ScreenScale::Thousandths, F::processorClockRated, kNone, true, -1, kNone, kNone, 0, nullptr, nullptr,
     nullptr, LogScale::Plain, LogBlank::Never, true},
    {F::memoryClockSupported, F::memoryClock, L"GPU Memory Clock: ", L"", L" MHz", ScreenScale::Thousandths,
     F::memoryClockRated, kNone, true, 1, F::graphicsClockSupported, F::memoryClockScale, 12, "Memory Clock",
     "Memory Clock        ", " MHz", LogScale::WholeMhz, LogBlank::Never, true},
    {F::videoClockSupported, F::videoClock, L"GPU Video Clock: ", L"", L" MHz", ScreenScale::Thousandths,
     F::videoClockRated, kNone, true, -1, kNone, kNone, 0, nullptr, nullptr, nullptr, LogScale::Plain,
     LogBlank::Never, true},
    {F::gpuLoadSupported, F::gpuLoad, L"GPU Load: ", L"", L" %", ScreenScale::Plain, kNone, kNone, false, 2,
     kNone, kNone, 32, "GPU Load", "GPU Load            ", " %", LogScale::Plain, LogBlank::Never, true},
    {F::memoryUsageSupported, F::memoryUsage, L"Memory Usage: ", L"", L" MB", ScreenScale::Kibibytes,
     F::memoryTotal, kNone, false, 3, kNone, kNone, 16, "Memory Usage", "Memory Usage        ", " MB",
     LogScale::Kibibytes, LogBlank::Never, true},
    {F::powerDrawSupported, F::powerDraw, L"Power Draw: ", L"", L" W", ScreenScale::Thousandths,
     F::powerLimit, kNone, false, 5, kNone, kNone, 22, "Power Draw", "Power(Draw)         ", " W",
     LogScale::Watts, LogBlank::Unsupported, true},
    {F::temperatureSupported, F::temperature, L"Temperature: ", L"", L" \u2103", ScreenScale::Plain, kNone,
     kNone, false, 4, kNone, kNone, 29, "Temperature", "Temperature         ", "", LogScale::Plain,
     LogBlank::Never, true},
    {F::driverModelSupported, F::driverModel, L"Driver Model: ", L"", L"", ScreenScale::DriverModel, kNone,
     kNone, false, -1, kNone, kNone, 0, nullptr, nullptr, nullptr, LogScale::Plain, LogBlank::Never, false},
    {F::memoryControllerLoadSupported, F::memoryControllerLoad, L"Memory Controller Load: ", L"", L" %",
     ScreenScale::Plain, kNone, kNone, false, -1, kNone, kNone, 0, "Memory Controller Load",
     "Memory Controller Load   ", " %", LogScale::Plain, LogBlank::Never, true},
    {F::videoEngineLoadSupported, F::videoEngineLoad, L"Video Engine Load: ", L"", L" %", ScreenScale::Plain,
     kNone, kNone, false, -1, kNone, kNone, 0, "Video Engine Load", "Video Engine Load   ", " %",
     LogScale::Plain, LogBlank::Never, true},
    {F::busInterfaceLoadSupported, F::busInterfaceLoad, L"Bus Interface Load: ", L"", L" %",
     ScreenScale::Plain, kNone, kNone, false, -1, kNone, kNone, 0, "Bus Interface Load",
     "Bus Interface Load  ", " %", LogScale::Plain, LogBlank::Never, true},
    {F::fanLevelSupported, F::fanLevel, L"Fan level: ", L"", L" %", ScreenScale::Plain, kNone, kNone, false,
     -1, kNone, kNone, 0, "FAN Level", "FAN Level           ", " %", LogScale::Plain, LogBlank::Unsupported,
     true},
    {F::fanRpmSupported, F::fanRpm, L"Fan rpm: ", L"", L" rpm", ScreenScale::Plain, kNone, kNone, false, -1,
     kNone, kNone, 0, "FAN rpm", "FAN rpm             ", " rpm", LogScale::Plain, LogBlank::Zero, true},
    {F::pStateSupported, F::pState, L"P-State: ", L"P", L"", ScreenScale::Plain, kNone, kNone, false, -1,
     kNone, kNone, 0, "P-State", "P-State             ", "", LogScale::Plain, LogBlank::Never, false},
    {F::coreVoltageSupported, F::coreVoltage, L"GPU Core Voltage: ", L"", L" V", ScreenScale::Microvolts,
     F::coreVoltageRated, F::coreVoltageRatedSupported, false, -1, kNone, kNone, 0, nullptr, nullptr, nullptr,
     LogScale::Plain, LogBlank::Never, true},
};

const ReadingInfo& readingInfo(Reading reading) {
    return kReadings[static_cast<int>(reading)];
}

Reading graphedReading(int graph) {
    for (int r = 0; r < kReadingCount; ++r)
        if (kReadings[r].graph == graph)
            return static_cast<Reading>(r);
    return Reading::GpuLoad;
}
