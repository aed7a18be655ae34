#include "agent/core/fleet_options.h"

#include <cstdio>
#include <cstring>

namespace {

// A port: 1 to 5 decimal digits, no leading zero; advances *p past them.
bool readPortDigits(const char** p, uint32_t* value) {
    const char* start = *p;
    uint32_t v = 0;
    while (**p >= '0' && **p <= '9' && *p - start < 5)
        v = v * 10 + uint32_t(*(*p)++ - '0');
    int digits = static_cast<int>(*p - start);
    if (digits == 0 || (digits > 1 && *start == '0') || (**p >= '0' && **p <= '9'))
        return false;
    *value = v;
    return true;
}

} // namespace

bool parseMetricsEndpoint(const char* text, char address[16], uint16_t* port) {
    const char* colon = text ? std::strchr(text, ':') : nullptr;
    uint32_t quad = 0, v = 0;
    if (!colon || !parseStrictDottedQuad(text, static_cast<size_t>(colon - text), &quad))
        return false;
    const char* p = colon + 1;
    if (!readPortDigits(&p, &v) || *p != '\0' || v == 0 || v > 65535)
        return false;
    std::memcpy(address, text, colon - text);
    address[colon - text] = '\0';
    *port = static_cast<uint16_t>(v);
    return true;
}

const char kFleetUsage[] =
    "[--metrics-listen ADDRESS:PORT] [--metrics-processes] [--allow-from ADDRESS[/BITS],...]...\n"
    "(--allow-from may be given more than once: each adds to the list)";

FleetOptionResult readFleetOption(const char* option, const char* value, FleetOptions& out, char* message,
                                  size_t messageSize) {
    if (std::strcmp(option, "--metrics-listen") == 0) {
        if (value && parseMetricsEndpoint(value, out.metricsAddress, &out.metricsPort)) {
            out.metrics = true;
            return FleetOptionResult::Taken;
        }
        std::snprintf(message, messageSize,
                      "--metrics-listen needs ADDRESS:PORT, for example 127.0.0.1:58681 (got \"%s\")",
                      value ? value : "");
        return FleetOptionResult::Bad;
    }
    if (std::strcmp(option, "--metrics-processes") == 0) {
        out.processes = true;
        return FleetOptionResult::TakenAlone;
    }
    if (std::strcmp(option, "--allow-from") == 0) {
        if (value && addAllowList(value, &out.allow, option, message, messageSize))
            return FleetOptionResult::Taken;
        if (!value)
            std::snprintf(message, messageSize, "--allow-from: \"\" is not an IPv4 address or CIDR block");
        return FleetOptionResult::Bad;
    }
    return FleetOptionResult::NotFleet;
}

CommandLineRead readCommandLine(int count, const char* const* args, FleetOptions& out,
                                const CommandLineCallbacks& callbacks, char* message, size_t messageSize) {
    message[0] = '\0';
    for (int i = 0; i < count; ++i) {
        const char* value = i + 1 < count ? args[i + 1] : nullptr;
        FleetOptionResult fleet = readFleetOption(args[i], value, out, message, messageSize);
        if (fleet == FleetOptionResult::Bad)
            return CommandLineRead::Bad;
        if (fleet == FleetOptionResult::TakenAlone)
            continue;
        if (fleet == FleetOptionResult::NotFleet) {
            OwnOption own = callbacks.own ? callbacks.own(callbacks.context, args[i], value) : OwnOption::Bad;
            if (own != OwnOption::TakenWithValue)
                return own == OwnOption::HelpShown ? CommandLineRead::HelpShown : CommandLineRead::Bad;
        }
        ++i;
    }
    return CommandLineRead::Run;
}
