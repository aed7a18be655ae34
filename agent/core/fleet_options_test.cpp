#include "agent/core/fleet_options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::string hosts(int first, int count) {
    std::string list;
    for (int i = first; i < first + count; ++i)
        list += (i > first ? "," : "") + std::string("192.0.2.") + std::to_string(i);
    return list;
}

// Each --allow-from adds to the list; the one that is refused names why and
// leaves the list as the earlier ones made it.
TEST(FleetOptions, RepeatedAllowFromAddsUpAndRefusalsSayWhy) {
    struct Case {
        std::vector<std::string> values;
        std::string message; // empty: every value taken
        std::vector<const char*> admitted, refused;
    };
    std::vector<Case> cases = {
        {{"192.0.2.5", "10.0.0.0/8"}, "", {"192.0.2.5", "10.1.2.3"}, {"192.0.2.6"}},
        {{hosts(0, 64), "192.0.2.64"},
         "--allow-from: more than 64 addresses and blocks in all",
         {"192.0.2.63"},
         {"192.0.2.64"}},
        {{"192.168.1.5/16"},
         "--allow-from: 192.168.1.5/16 has host bits set; the network is 192.168.0.0/16",
         {},
         {}},
        {{"10.0.0.1", "10.0.0.0/08"},
         "--allow-from: \"10.0.0.0/08\" is not an IPv4 address or CIDR block",
         {"10.0.0.1"},
         {"10.0.0.2"}},
        {{"10.0.0.0/8,192.0.2.5"}, "", {"10.200.1.1", "192.0.2.5"}, {"11.0.0.1"}},
        {{"0.0.0.0/0"}, "", {"203.0.113.9"}, {}},
        {{"192.0.2.5,"}, "--allow-from: \"\" is not an IPv4 address or CIDR block", {}, {}},
    };
    // A leading zero would be octal to inet_addr: refused rather than guessed.
    for (const char* entry :
         {"0.0.0.0/00", "192.0.2.5/33", "192.0.2", "192.0.2.256", "010.0.0.1", "192.0.2.5/", "host.example"})
        cases.push_back({{entry},
                         "--allow-from: \"" + std::string(entry) + "\" is not an IPv4 address or CIDR block",
                         {},
                         {}});
    for (const auto& c : cases) {
        FleetOptions options;
        char message[256] = {};
        FleetOptionResult last = FleetOptionResult::NotFleet;
        for (const std::string& value : c.values)
            last = readFleetOption("--allow-from", value.c_str(), options, message, sizeof message);
        EXPECT_EQ(c.message.empty() ? FleetOptionResult::Taken : FleetOptionResult::Bad, last) << c.values[0];
        EXPECT_EQ(c.message, c.message.empty() ? "" : message);
        for (const char* a : c.admitted)
            EXPECT_TRUE(allowListAdmitsText(&options.allow, a)) << a;
        for (const char* a : c.refused)
            EXPECT_FALSE(allowListAdmitsText(&options.allow, a)) << a;
    }
}

// Good endpoints are read in the programs' own tests; each of these is refused.
TEST(FleetOptions, MetricsEndpointIsAStrictAddressAndPort) {
    for (const char* text : {"127.0.0.1", "127.0.0.1:0", "127.0.0.1:65536", "127.1:80", "127.0.0.01:80",
                             "1.2.3.4:080", "256.0.0.1:80", "1.2.3.4:80 ", "agent:80"}) {
        char address[16];
        uint16_t port;
        EXPECT_FALSE(parseMetricsEndpoint(text, address, &port)) << text;
    }
}

} // namespace

namespace {

OwnOption takeOwn(void* seen, const char* option, const char* value) {
    static_cast<std::vector<std::string>*>(seen)->push_back(std::string(option) + "=" + (value ? value : ""));
    return OwnOption::TakenWithValue;
}

// --metrics-processes takes no value: the option after it is read as an option.
TEST(FleetOptions, MetricsProcessesStandsAlone) {
    const char* args[] = {"--metrics-processes", "--listen-port", "5", "--metrics-processes"};
    std::vector<std::string> seen;
    CommandLineCallbacks callbacks;
    callbacks.context = &seen;
    callbacks.own = takeOwn;
    FleetOptions options;
    char message[128];
    EXPECT_EQ(readCommandLine(4, args, options, callbacks, message, sizeof message), CommandLineRead::Run);
    EXPECT_TRUE(options.processes);
    EXPECT_EQ(seen, std::vector<std::string>{"--listen-port=5"});
}

} // namespace
