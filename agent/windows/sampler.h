// The Windows Agent's sampler thread: once per period it reads every
// recognised GPU through the driver table into the slots' shared samples and
// refreshes their labels. Its steps have the names of the Linux sampler's
// (nvml_source.h): startSampler (startup.h), sampleSlot, runSampler,
// stopSampler.
#pragma once
#include "agent/core/agent_state.h"
#include "agent/windows/driver_table.h"

// One slot's steps: current, base and boost clocks, GPU load, memory,
// temperature, power and driver model, performance state, engine loads, fan,
// voltages and the connector label. A failed call leaves its readings alone;
// when any call gave a reading, the slot's reading time is noted.
void sampleSlot(AgentState& state, const NvapiGpus& gpus, const DriverTable& driver, int slot);

// Every slot below gpuCount, in order.
void samplePass(AgentState& state, const NvapiGpus& gpus, const DriverTable& driver);

// Passes separated by periodMs until agentRunning is 0 after a pass. Returns 0.
int runSampler(AgentState& state, const NvapiGpus& gpus, const DriverTable& driver, int periodMs = 1000);

// Sets agentRunning to 0: runSampler ends after its pass, the reporting
// thread with it.
void stopSampler(AgentState& state);
