// Each reading the Console shows or logs, once: the sample fields it is made
// of, how its number is written, and where it appears (readout row, graph and
// history series, CSV column, text console line, the reset when a report
// connection ends). The screen and the log take their texts from here.
#pragma once
#include "console/intake/link/panel_state.h"

// In the order of the readout panel's rows.
enum class Reading {
    GraphicsClock,
    ProcessorClock,
    MemoryClock,
    VideoClock,
    GpuLoad,
    MemoryUsage,
    PowerDraw,
    Temperature,
    DriverModel,
    MemoryControllerLoad,
    VideoEngineLoad,
    BusInterfaceLoad,
    FanLevel,
    FanRpm,
    PState,
    CoreVoltage,
};
constexpr int kReadingCount = 16;
constexpr SampleField kNoField = SampleField::Count;

// How the screen writes a number.
enum class ScreenScale {
    Plain,       // digits, '-' kept
    Thousandths, // kHz as MHz, mW as W: two decimals, truncated
    Kibibytes,   // KiB as MiB, two decimals
    Microvolts,  // volts, two decimals
    DriverModel, // 0 "WDDM", 1 "WDM(TCC)", anything else nothing
};

// How the CSV file and the text console write a number.
enum class LogScale {
    Plain,     // the 32-bit value as a signed decimal
    WholeMhz,  // kHz as whole MHz, single precision, cut toward zero
    Kibibytes, // KiB as MiB, two decimals cut
    Watts,     // mW as W, "%.3f" of a single-precision quotient
};

// When the log writes nothing for a reading (an empty cell, "No Support").
enum class LogBlank { Never, Unsupported, Zero };

struct ReadingInfo {
    SampleField supported;
    SampleField value;
    // Readout: the label; the value as "<value><unit>" or, with a second
    // field, "<value><unit> / <second><unit>". "---" stands for a part whose
    // own flag is 0 or, with secondZeroUnknown, a second of 0 (a figure the
    // driver did not give). "No Support" when neither flag is set.
    const wchar_t* label;
    const wchar_t* prefix;
    const wchar_t* unit;
    ScreenScale screenScale;
    SampleField second;
    SampleField secondSupported;
    bool secondZeroUnknown;
    // Graph, level meter and history series (0..5 in the graphs' order), -1
    // for none. The history moves only when alsoNeeded's flag is set too; the
    // meter's maximum is meterScale when not 0, else second, else 100.
    int graph;
    SampleField alsoNeeded;
    SampleField meterScale;
    int captionX;
    // CSV column and text console line; null logName: not logged.
    const char* logName;
    const char* consoleName;
    const char* logUnit;
    LogScale logScale;
    LogBlank logBlank;
    // Set to 0 when the report connection ends.
    bool zeroedOnReset;
};

extern const ReadingInfo kReadings[kReadingCount];

const ReadingInfo& readingInfo(Reading reading);
// The reading drawn in graph g (0..5).
Reading graphedReading(int graph);
