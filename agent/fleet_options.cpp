#include "agent/fleet_options.h"

#include "agent/metrics_server.h"

#include <cstdio>
#include <cstring>

const char kFleetUsage[] = "[--metrics-listen ADDRESS:PORT] [--allow-from ADDRESS[/BITS],...]";

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
        char bad[64] = {};
        if (value && parseAllowList(value, &out.allow, bad))
            return FleetOptionResult::Taken;
        std::snprintf(message, messageSize, "--allow-from: \"%s\" is not an IPv4 address or CIDR block",
                      value ? bad : "");
        return FleetOptionResult::Bad;
    }
    return FleetOptionResult::NotFleet;
}
