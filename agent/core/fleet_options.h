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
    AllowList allow;        // empty: everyone, as without the option
    bool processes = false; // per-process GPU memory in the metrics (names can tell much)
};

// Taken: the option and its value; TakenAlone: an option without a value.
enum class FleetOptionResult { NotFleet, Taken, TakenAlone, Bad };

// Reads option (with value, the next argument, or null at the end of the
// line) when it is --metrics-listen or --allow-from. Bad: message holds one
// line for the user naming what is wrong.
FleetOptionResult readFleetOption(const char* option, const char* value, FleetOptions& out, char* message,
                                  size_t messageSize);

extern const char kFleetUsage[];

// What a program says of one of its own options (one that is not a fleet option).
enum class OwnOption { TakenWithValue, HelpShown, Bad };

struct CommandLineCallbacks {
    void* context = nullptr;
    // value is the next argument, or null at the end of the line. Bad: the
    // program has said why. Null: every such option is Bad.
    OwnOption (*own)(void* context, const char* option, const char* value) = nullptr;
};

enum class CommandLineRead { Run, HelpShown, Bad };

// Reads the arguments (each option with its value) in order: fleet options
// into out, the others through callbacks.own. Bad with message empty when
// the program's own option was refused, else holding the line that says
// which fleet option is wrong.
CommandLineRead readCommandLine(int count, const char* const* args, FleetOptions& out,
                                const CommandLineCallbacks& callbacks, char* message, size_t messageSize);

// Reads "ADDRESS:PORT": a strict dotted quad (no leading zeros, no short
// forms) and a decimal port 1..65535. False, with the outputs untouched, for
// anything else.
bool parseMetricsEndpoint(const char* text, char address[16], uint16_t* port);
