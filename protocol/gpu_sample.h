// The readings of one GPU as they travel from the Agent to the Console.
#pragma once
#include "protocol/wire.h"

#include <cstdint>

// Every numeric field in wire order (lines 3 to 44 of a GPU part).
// X(name, wire kind, how the Console converts the line)
//   wire kind: Flag (one digit), Unsigned, Signed
//   conversion: Atoi (signed 32-bit) or Strtoul (unsigned 32-bit)
#define GAUGELINE_SAMPLE_FIELDS(X)                                                                           \
    X(graphicsClockSupported, Flag, Atoi)                                                                    \
    X(memoryClockSupported, Flag, Atoi)                                                                      \
    X(graphicsClock, Unsigned, Atoi)                                                                         \
    X(memoryClock, Unsigned, Atoi)                                                                           \
    X(processorClockSupported, Flag, Atoi)                                                                   \
    X(processorClock, Unsigned, Atoi)                                                                        \
    X(videoClockSupported, Flag, Atoi)                                                                       \
    X(videoClock, Unsigned, Atoi)                                                                            \
    X(graphicsClockRated, Unsigned, Atoi)                                                                    \
    X(memoryClockRated, Unsigned, Atoi)                                                                      \
    X(processorClockRated, Unsigned, Atoi)                                                                   \
    X(videoClockRated, Unsigned, Atoi)                                                                       \
    X(graphicsClockScale, Unsigned, Atoi)                                                                    \
    X(memoryClockScale, Unsigned, Atoi)                                                                      \
    X(gpuLoadSupported, Flag, Atoi)                                                                          \
    X(gpuLoad, Signed, Atoi)                                                                                 \
    X(driverModel, Signed, Atoi)                                                                             \
    X(memoryTotal, Unsigned, Strtoul)                                                                        \
    X(memoryUsageSupported, Flag, Atoi)                                                                      \
    X(memoryUsage, Unsigned, Strtoul)                                                                        \
    X(temperatureSupported, Flag, Atoi)                                                                      \
    X(temperature, Signed, Atoi)                                                                             \
    X(powerDrawSupported, Flag, Atoi)                                                                        \
    X(powerLimit, Unsigned, Atoi)                                                                            \
    X(powerDraw, Unsigned, Atoi)                                                                             \
    X(driverModelSupported, Flag, Atoi)                                                                      \
    X(pStateSupported, Flag, Atoi)                                                                           \
    X(pState, Signed, Atoi)                                                                                  \
    X(memoryControllerLoadSupported, Flag, Atoi)                                                             \
    X(memoryControllerLoad, Unsigned, Strtoul)                                                               \
    X(videoEngineLoadSupported, Flag, Atoi)                                                                  \
    X(videoEngineLoad, Unsigned, Strtoul)                                                                    \
    X(busInterfaceLoadSupported, Flag, Atoi)                                                                 \
    X(busInterfaceLoad, Unsigned, Strtoul)                                                                   \
    X(fanLevelSupported, Flag, Atoi)                                                                         \
    X(fanLevel, Unsigned, Strtoul)                                                                           \
    X(fanRpmSupported, Flag, Atoi)                                                                           \
    X(fanRpm, Unsigned, Strtoul)                                                                             \
    X(coreVoltageRatedSupported, Flag, Atoi)                                                                 \
    X(coreVoltageRated, Unsigned, Strtoul)                                                                   \
    X(coreVoltageSupported, Flag, Atoi)                                                                      \
    X(coreVoltage, Unsigned, Strtoul)

// Readings only the Agent's metrics give, never sent to the Console: unsigned,
// 0 when not read. X(name)
#define GAUGELINE_AGENT_ONLY_FIELDS(X)                                                                       \
    X(graphicsClockMax)                                                                                      \
    X(memoryClockMax)                                                                                        \
    X(processorClockMax)                                                                                     \
    X(videoClockMax)                                                                                         \
    X(enforcedPowerLimitSupported)                                                                           \
    X(enforcedPowerLimit)                                                                                    \
    X(managementPowerLimitSupported)                                                                         \
    X(managementPowerLimit)

#define GAUGELINE_WIRE_TYPE_Flag uint32_t
#define GAUGELINE_WIRE_TYPE_Unsigned uint32_t
#define GAUGELINE_WIRE_TYPE_Signed int32_t
#define GAUGELINE_CONSOLE_TYPE_Atoi int32_t
#define GAUGELINE_CONSOLE_TYPE_Strtoul uint32_t

// Field names as indexes: SampleField::temperature is field 21.
enum class SampleField {
#define GAUGELINE_FIELD_NAME(name, kind, conv) name,
    GAUGELINE_SAMPLE_FIELDS(GAUGELINE_FIELD_NAME)
#undef GAUGELINE_FIELD_NAME
        Count
};
static_assert(static_cast<int>(SampleField::Count) == kSampleFieldCount,
              "the wire's field count and the field list disagree");

enum class WireKind { Flag, Unsigned, Signed };
enum class ConsoleConversion { Atoi, Strtoul };

struct SampleFieldInfo {
    const char* name;
    WireKind kind;
    ConsoleConversion conversion;
};

// Field k (0..41) is line k + 3 of a GPU part.
extern const SampleFieldInfo kSampleFields[kSampleFieldCount];

// One GPU's readings, plain values. Flags and unsigned readings are uint32_t,
// the four signed readings int32_t.
struct GpuSample {
    wchar_t fullName[kFullNameChars + 1];
    char tabLabel[kTabLabelBytes];
#define GAUGELINE_DECLARE_FIELD(name, kind, conv) GAUGELINE_WIRE_TYPE_##kind name;
    GAUGELINE_SAMPLE_FIELDS(GAUGELINE_DECLARE_FIELD)
#undef GAUGELINE_DECLARE_FIELD
#define GAUGELINE_DECLARE_AGENT_FIELD(name) uint32_t name;
    GAUGELINE_AGENT_ONLY_FIELDS(GAUGELINE_DECLARE_AGENT_FIELD)
#undef GAUGELINE_DECLARE_AGENT_FIELD
};

// A slot as the Agent keeps it before it has a GPU: "- empty -", empty label, all 0.
void clearGpuSample(GpuSample* sample);

// Numeric field k as its 32-bit pattern (signed fields reinterpret).
uint32_t sampleFieldBits(const GpuSample& sample, int k);
void setSampleFieldBits(GpuSample* sample, int k, uint32_t bits);
