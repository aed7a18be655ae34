#include "agent/windows/service.h"

#include <gtest/gtest.h>

namespace {

// What the user reads when the service manager refuses: installing twice,
// removing what is not there, a right missing, any other failed call.
TEST(ServiceFailureText, NamesTheOutcomeAndTheFailedCall) {
    struct Case {
        ServiceStep step;
        uint32_t error;
        const char* text;
    };
    const Case cases[] = {
        {ServiceStep::Create, 1073,
         "the service KovraGaugelineAgent is already installed: nothing changed (remove it first with "
         "--uninstall-service)"},
        {ServiceStep::Open, 1060, "the service KovraGaugelineAgent is not installed: nothing removed"},
        {ServiceStep::OpenManager, 5, "OpenSCManagerW failed: access denied (run it as an administrator)"},
        {ServiceStep::Configure, 87, "ChangeServiceConfig2W failed: error 87"},
        {ServiceStep::Delete, 1055, "DeleteService failed: the service database is locked (try again)"},
    };
    for (const Case& c : cases) {
        char text[256];
        serviceFailureText(c.step, c.error, text, sizeof text);
        EXPECT_STREQ(c.text, text) << c.error;
    }
}

// The options stored as the service's command line come back unchanged when
// the platform splits it.
TEST(ServiceCommandLine, QuotesWhatTheSplittingWouldChange) {
    EXPECT_EQ("\"C:\\Program Files\\KovraGaugelineAgent.exe\" --service --metrics-listen 0.0.0.0:58681 "
              "--allow-from \"192.0.2.5, 192.0.2.6\" \"\" \"a\\\\\\\"b\\\\\"",
              serviceCommandLine("C:\\Program Files\\KovraGaugelineAgent.exe",
                                 {"--metrics-listen", "0.0.0.0:58681", "--allow-from", "192.0.2.5, 192.0.2.6",
                                  "", "a\\\"b\\"}));
}

TEST(ServiceCommand, OnlyTheFirstArgumentNamesIt) {
    std::vector<std::string> args = {"--install-service", "--metrics-listen", "0.0.0.0:58681"};
    EXPECT_EQ(ServiceCommand::Install, takeServiceCommand(&args));
    EXPECT_EQ((std::vector<std::string>{"--metrics-listen", "0.0.0.0:58681"}), args);
    args = {"--allow-from", "--service"};
    EXPECT_EQ(ServiceCommand::None, takeServiceCommand(&args));
    EXPECT_EQ(2u, args.size());
}

} // namespace
