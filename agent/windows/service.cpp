#include "agent/windows/service.h"

#include <cstdio>
#include <cstring>

const char kServiceRunOption[] = "--service";

namespace {

// The system's error codes that the service manager's answers use.
constexpr uint32_t kErrorAccessDenied = 5;
constexpr uint32_t kErrorDatabaseLocked = 1055;
constexpr uint32_t kErrorServiceDoesNotExist = 1060;
constexpr uint32_t kErrorServiceMarkedForDelete = 1072;
constexpr uint32_t kErrorServiceExists = 1073;

const char* stepCall(ServiceStep step) {
    switch (step) {
    case ServiceStep::OpenManager:
        return "OpenSCManagerW";
    case ServiceStep::Create:
        return "CreateServiceW";
    case ServiceStep::Configure:
        return "ChangeServiceConfig2W";
    case ServiceStep::EventSource:
        return "registering the event source";
    case ServiceStep::Open:
        return "OpenServiceW";
    case ServiceStep::Stop:
        return "ControlService (stop)";
    case ServiceStep::Delete:
        return "DeleteService";
    }
    return "";
}

void appendArgument(std::string& line, const std::string& arg) {
    line += ' ';
    if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) {
        line += arg;
        return;
    }
    // Backslashes count only before a quote: doubled there, so that
    // CommandLineToArgvW gives the argument back unchanged.
    line += '"';
    size_t backslashes = 0;
    for (char c : arg) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        line.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        line += c;
    }
    line.append(backslashes * 2, '\\');
    line += '"';
}

} // namespace

ServiceCommand takeServiceCommand(std::vector<std::string>* args) {
    if (args->empty())
        return ServiceCommand::None;
    const std::string& first = args->front();
    ServiceCommand command = ServiceCommand::None;
    if (first == "--install-service")
        command = ServiceCommand::Install;
    else if (first == "--uninstall-service")
        command = ServiceCommand::Uninstall;
    else if (first == kServiceRunOption)
        command = ServiceCommand::Run;
    if (command != ServiceCommand::None)
        args->erase(args->begin());
    return command;
}

std::string serviceCommandLine(const std::string& program, const std::vector<std::string>& args) {
    std::string line = "\"" + program + "\" ";
    line += kServiceRunOption;
    for (const std::string& arg : args)
        appendArgument(line, arg);
    return line;
}

void serviceFailureText(ServiceStep step, uint32_t error, char* out, size_t size) {
    const char* call = stepCall(step);
    switch (error) {
    case kErrorServiceExists:
        std::snprintf(out, size,
                      "the service KovraGaugelineAgent is already installed: nothing changed "
                      "(remove it first with --uninstall-service)");
        return;
    case kErrorServiceDoesNotExist:
        std::snprintf(out, size, "the service KovraGaugelineAgent is not installed: nothing removed");
        return;
    case kErrorServiceMarkedForDelete:
        std::snprintf(out, size,
                      "the service KovraGaugelineAgent is being removed: try again once it has stopped");
        return;
    case kErrorAccessDenied:
        std::snprintf(out, size, "%s failed: access denied (run it as an administrator)", call);
        return;
    case kErrorDatabaseLocked:
        std::snprintf(out, size, "%s failed: the service database is locked (try again)", call);
        return;
    default:
        std::snprintf(out, size, "%s failed: error %lu", call, static_cast<unsigned long>(error));
        return;
    }
}

uint32_t serviceExitCode(StartupMessage message) {
    return static_cast<uint32_t>(message) + 1;
}
