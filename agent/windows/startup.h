// The Agent's start-up steps that talk to the driver: GPU recognition, NVML,
// names and bus numbers, record versions and the first labels. Messages go
// through a callback so that the program shows message boxes and tests record them.
#pragma once
#include "agent/core/agent_state.h"
#include "agent/windows/driver_table.h"

#include <cstdint>

enum class StartupMessage {
    WindowFailed,
    FontFailed,
    OldWindows,
    NvapiFailed,
    NvmlLoadFailed,
    NvmlInitFailed,
    TooManyGpus,
    NameFailed,
};

// The exact text shown for a message.
const wchar_t* startupMessageText(StartupMessage message);

struct StartupCallbacks {
    void* context = nullptr;
    void (*message)(void* context, StartupMessage message) = nullptr;
};

// Windows 7 (6.1) or later.
bool windowsVersionSupported(uint32_t major, uint32_t minor);

// Physical GPUs first, then TCC GPUs, into gpus; sets gpuCount.
// False when a call fails or there is no GPU.
bool recogniseGpus(AgentState& state, NvapiGpus& gpus, const DriverTable& driver);

enum class NvmlStart { Ok, LoadFailed, InitFailed };
NvmlStart startNvml(const DriverTable& driver);

// Names (cut to 39 characters) and bus numbers of the slots below gpuCount;
// more than 8 GPUs are cut to 8 with the TooManyGpus message. False when a
// name cannot be read.
bool readNamesAndBuses(AgentState& state, const NvapiGpus& gpus, const DriverTable& driver,
                       const StartupCallbacks& callbacks);

// For each slot, the newest version of each record that the GPU accepts.
void probeRecordVersions(const AgentState& state, NvapiGpus& gpus, const DriverTable& driver);

// The name with the slot suffix when there are two or more GPUs.
void buildStartupLabels(AgentState& state);

// The Windows sampler's start: resets the slots and the handles and runs the steps above in
// order, showing the messages. False (and the sampler stopped) when start-up
// must end.
bool startSampler(AgentState& state, NvapiGpus& gpus, const DriverTable& driver,
                  const StartupCallbacks& callbacks);
