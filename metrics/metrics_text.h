// The GPU readings in the Prometheus text exposition format (version 0.0.4),
// for the Agents' metrics endpoint.
#pragma once
#include "protocol/gpu_sample.h"

#include <string>

// Every family is a gauge under "gaugeline_gpu_", one series per GPU in the
// slots below gpuCount (label gpu="0".."7"), readings in base units (hertz,
// bytes, watts, volts, ratios). A reading the driver did not give (flag 0,
// or a base clock or memory total still 0) has no series; a family left with
// no series at all is left out whole, HELP and TYPE included, so the text
// names only what was measured. gaugeline_gpu_up gives up[gpu] as 1 or 0;
// a GPU that is not up has its info and up series only, no readings.
std::string metricsText(const GpuSample samples[kGpuSlotCount], int gpuCount, const bool up[kGpuSlotCount]);
