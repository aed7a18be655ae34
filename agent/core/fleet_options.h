// The command-line options both Agents share for running in a fleet: the
// metrics endpoint and the list of who may ask for reports.
#pragma once
#include "agent/core/allow_list.h"

#include <cstddef>
#include <cstdint>

struct FleetOptions {
    bool metrics = false;
    char metricsAddress[16] = {};
    uint16_t metricsPort = 0;
    AllowList allow; // empty: everyone, as without the option
};

enum class FleetOptionResult { NotFleet, Taken, Bad };

// Reads option (with value, the next argument, or null at the end of the
// line) when it is --metrics-listen or --allow-from. Bad: message holds one
// line for the user naming what is wrong.
FleetOptionResult readFleetOption(const char* option, const char* value, FleetOptions& out, char* message,
                                  size_t messageSize);

extern const char kFleetUsage[];

// Reads "ADDRESS:PORT": a strict dotted quad (no leading zeros, no short
// forms) and a decimal port 1..65535. False, with the outputs untouched, for
// anything else.
bool parseMetricsEndpoint(const char* text, char address[16], uint16_t* port);
