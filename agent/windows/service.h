// The Agent as a Windows service, the part that needs no Windows: which
// service command the command line asks for, the command line the service
// manager is given, and the words and codes of each outcome. The calls to the
// service manager are in service_win.*.
#pragma once
#include "agent/windows/startup.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

enum class ServiceCommand { None, Install, Uninstall, Run };

// The option the service manager starts the Agent with.
extern const char kServiceRunOption[];

// When the first argument is --install-service, --uninstall-service or
// --service, takes it off args and says which; None otherwise.
ServiceCommand takeServiceCommand(std::vector<std::string>* args);

// "PROGRAM" --service ARGS..., each argument quoted where the platform's
// splitting needs it.
std::string serviceCommandLine(const std::string& program, const std::vector<std::string>& args);

// The steps of installing and removing; each that fails is named in the words.
enum class ServiceStep { OpenManager, Create, Configure, EventSource, Open, Stop, Delete };

// What a step's failure says, from the system's error code (ERROR_ACCESS_DENIED
// and the service manager's own codes get words of their own).
void serviceFailureText(ServiceStep step, uint32_t error, char* out, size_t size);

// Service-specific exit codes of a start-up that failed under the service
// manager: a start-up message's number, or one of these.
constexpr uint32_t kServiceExitMetricsPort = 20;
constexpr uint32_t kServiceExitOptions = 21;
uint32_t serviceExitCode(StartupMessage message);

// The message table's entries (resources/agent/agent_events.mc), as the
// message compiler numbers them: severity in the top two bits.
constexpr uint32_t kEventStartupFailed = 0xC0000001;
constexpr uint32_t kEventStartupWarning = 0x80000002;
