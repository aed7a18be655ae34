// The GPU readings in the Prometheus text exposition format (version 0.0.4),
// for the Agents' metrics endpoint.
#pragma once
#include "agent/core/gpu_health.h"
#include "protocol/gpu_sample.h"

#include <string>

// gaugeline_build_info first; then every family under "gaugeline_gpu_", one
// series per GPU in the slots below gpuCount, labelled gpu="0".."7" and the
// GPU's uuid ("" where the driver gave none), readings in base units (hertz,
// bytes, watts, volts, joules, ratios). Gauges, but for the error and energy
// counters ("_total"). A reading the driver did not give (flag 0, a base
// clock or memory total still 0, a health reading not read) has no series;
// a family left with no series at all is left out whole, HELP and TYPE
// included, so the text names only what was measured. gaugeline_gpu_up
// gives up[gpu] as 1 or 0; a GPU that is not up has its info and up series
// only, no readings.
std::string metricsText(const GpuSample samples[kGpuSlotCount], const GpuHealth health[kGpuSlotCount],
                        int gpuCount, const bool up[kGpuSlotCount], const char* driverVersion);
