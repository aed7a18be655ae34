#include "agent/fleet_options.h"

#include "agent/metrics_server.h"

#include <cstdio>
#include <cstring>

const char kFleetUsage[] = "[--metrics-listen ADDRESS:PORT] [--allow-from ADDRESS[/BITS],...]...\n"
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
    if (std::strcmp(option, "--allow-from") == 0) {
        if (value && addAllowList(value, &out.allow, option, message, messageSize))
            return FleetOptionResult::Taken;
        if (!value)
            std::snprintf(message, messageSize, "--allow-from: \"\" is not an IPv4 address or CIDR block");
        return FleetOptionResult::Bad;
    }
    return FleetOptionResult::NotFleet;
}
