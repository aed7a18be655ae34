// gaugeline-agent: the Agent for Linux. Reads the NVIDIA GPUs through NVML,
// loaded at run time, and reports them to the Console that asks, exactly as
// the Windows Agent does. No window: one status line per event on standard error.
#include "agent/core/agent_state.h"
#include "agent/core/fleet_options.h"
#include "agent/core/reporter.h"
#include "agent/linux/nvml_source.h"
#include "agent/linux/xid_watch.h"
#include "gpu/nvml_library.h"
#include "metrics/metrics_server.h"
#include "net/tcp.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <pthread.h>
#include <thread>

namespace {

constexpr int kPortTries = 5;
// How long the program waits at exit for a driver call still running.
constexpr int kCallWaitMs = 2000;

const char kUsage[] = "usage: gaugeline-agent [--listen-port N] [--report-port N] [--bind ADDRESS]";

AgentState gState;
FleetOptions gFleet;
NvmlApi gApi;
NvmlSource gSource;
std::atomic<bool> gListenedOnce{false};

void say(const char* format, ...) {
    char line[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    std::fprintf(stderr, "%s\n", line);
    std::fflush(stderr);
}

void slotName(int slot, char out[kFullNameChars + 1]) {
    const wchar_t* name = gState.slots[slot].fullName;
    int n = 0;
    for (; n < kFullNameChars && name[n] != L'\0'; ++n)
        out[n] = name[n] < 0x80 ? static_cast<char>(name[n]) : '?';
    out[n] = '\0';
}

void onLost(void*, int slot) {
    char name[kFullNameChars + 1];
    slotName(slot, name);
    say("GPU %d (%s) lost: its readings stop, the other GPUs go on", slot + 1, name);
}

void onReporterEvent(void* context, ReporterEvent event, const char* address) {
    const ReporterConfig& config = *static_cast<const ReporterConfig*>(context);
    const char* console = address ? address : "unknown";
    switch (event) {
    case ReporterEvent::Listening:
        if (!gListenedOnce.exchange(true))
            say("listening on %u", static_cast<unsigned>(config.listenPort));
        break;
    case ReporterEvent::Reporting:
        say("reporting to %s", console);
        break;
    case ReporterEvent::ConnectFailed:
        say("cannot connect back to %s, listening again", console);
        break;
    case ReporterEvent::ConnectionLost:
        say("connection lost, listening again");
        break;
    }
}

bool parsePort(const char* text, uint16_t* port) {
    char* end = nullptr;
    long value = std::strtol(text, &end, 10);
    if (*text < '0' || *text > '9' || *end != '\0' || value < 1 || value > 65535)
        return false;
    *port = static_cast<uint16_t>(value);
    return true;
}

// The Agent's own options; context is its ReporterConfig.
OwnOption readOwnOption(void* context, const char* option, const char* value) {
    ReporterConfig& config = *static_cast<ReporterConfig*>(context);
    uint32_t address = 0;
    bool ok = false;
    if (std::strcmp(option, "--help") == 0) {
        std::printf("%s %s\n", kUsage, kFleetUsage);
        return OwnOption::HelpShown;
    } else if (std::strcmp(option, "--listen-port") == 0 && value) {
        ok = parsePort(value, &config.listenPort);
    } else if (std::strcmp(option, "--report-port") == 0 && value) {
        ok = parsePort(value, &config.reportPort);
    } else if (std::strcmp(option, "--bind") == 0 && value) {
        ok = parseInetAddr(value, &address);
        config.bindAddress = value;
    }
    if (!ok)
        std::fprintf(stderr, "%s %s\n", kUsage, kFleetUsage);
    return ok ? OwnOption::TakenWithValue : OwnOption::Bad;
}

// The port is tried once before the reporter starts, so that a port another
// program holds ends this one with a message instead of silent retries.
bool portFree(const ReporterConfig& config) {
    for (int attempt = 1; attempt <= kPortTries; ++attempt) {
        TcpSocket s = tcpListen(config.bindAddress, config.listenPort, 1);
        if (s != kNoSocket) {
            tcpClose(s);
            return true;
        }
        if (attempt == 1)
            say("port %u in use, trying again", static_cast<unsigned>(config.listenPort));
        if (attempt < kPortTries)
            std::this_thread::sleep_for(std::chrono::seconds(1));
    }
    say("cannot listen on port %u: in use", static_cast<unsigned>(config.listenPort));
    return false;
}

int endEarly(void* library) {
    if (gApi.shutdown)
        gApi.shutdown();
    closeNvmlLibrary(library);
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    ReporterConfig config;
    CommandLineCallbacks callbacks;
    callbacks.context = &config;
    callbacks.own = readOwnOption;
    char message[256];
    CommandLineRead options = readCommandLine(argc - 1, argv + 1, gFleet, callbacks, message, sizeof message);
    if (message[0])
        say("%s", message);
    if (options != CommandLineRead::Run)
        return options == CommandLineRead::Bad ? 2 : 0;

    // Every thread inherits this mask; only sigwait below takes the signals.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    char error[512] = {};
    void* library = openNvmlLibrary(error, sizeof error);
    if (!library) {
        say("cannot load libnvidia-ml.so.1: %s (is the NVIDIA driver installed?)", error);
        return 1;
    }
    bindNvml(&gApi, lookupNvmlExport, library, NvmlGeneration::Newest);
    gSource.api = &gApi;
    gSource.callbacks.lost = onLost;
    NvmlStartResult start = startSampler(gState, gSource);
    char number[32];
    switch (start.outcome) {
    case NvmlStartOutcome::InitFailed:
        say("NVML initialisation failed (%s)", nvmlErrorText(gApi, start.error, number, sizeof number));
        closeNvmlLibrary(library);
        return 1;
    case NvmlStartOutcome::CountFailed:
        say("cannot count GPUs (NVML: %s)", nvmlErrorText(gApi, start.error, number, sizeof number));
        return endEarly(library);
    case NvmlStartOutcome::NoGpu:
        say("no NVIDIA GPU found");
        return endEarly(library);
    case NvmlStartOutcome::Ok:
        break;
    }
    int gpuCount = gState.gpuCount.load();
    if (start.deviceCount > static_cast<uint32_t>(kGpuSlotCount))
        say("%u GPUs found, reporting the first %d", start.deviceCount, kGpuSlotCount);
    for (int i = 0; i < gpuCount; ++i) {
        char name[kFullNameChars + 1];
        slotName(i, name);
        if (start.slotError[i] == NVML_ERROR_GPU_IS_LOST)
            say("GPU %d lost: it has no readings, the other GPUs go on", i + 1);
        else if (start.slotError[i] != NVML_SUCCESS)
            say("GPU %d cannot be opened (NVML: %s)", i + 1,
                nvmlErrorText(gApi, start.slotError[i], number, sizeof number));
        else
            say("GPU %d: %s", i + 1, name);
    }
    if (!portFree(config))
        return endEarly(library);
    std::atomic<bool> stop{false};
    FleetMetrics metrics;
    FleetMetricsStart metricsStart = openFleetMetrics(gFleet, &stop, &metrics);
    if (metricsStart == FleetMetricsStart::PortUnavailable) {
        say("cannot listen for metrics on %s:%u: in use, or not an address of this machine",
            gFleet.metricsAddress, static_cast<unsigned>(gFleet.metricsPort));
        return endEarly(library);
    }
    if (metricsStart == FleetMetricsStart::Listening)
        say("serving metrics on %s", metrics.url);

    gState.readProcesses.store(gFleet.processes);
    gState.agentRunning.store(1);
    std::thread samplers[kGpuSlotCount];
    for (int i = 0; i < gpuCount; ++i)
        if (gSource.devices[i])
            samplers[i] = std::thread([i] { runSampler(gState, gSource, i); });
    XidWatch xids;
    startXidWatch(gState, xids, gApi, gSource.devices);

    config.answerFromRequestAddress = true;
    config.callbacks.context = &config;
    config.callbacks.event = onReporterEvent;
    config.stop = &stop;
    config.allow = &gFleet.allow;
    std::thread reporter([&config] { runReporter(gState, config); });
    std::thread metricsServer;
    if (metrics.listener != kNoSocket)
        metricsServer =
            std::thread([&metrics] { runMetricsServer(gState, metrics.config, metrics.listener); });

    int signal = 0;
    while (sigwait(&stopSignals, &signal) != 0) {
    }
    say("stopping");
    stop.store(true);
    reporter.join();
    if (metricsServer.joinable())
        metricsServer.join();
    gState.agentRunning.store(0);
    stopXidWatch(xids);
    if (!stopSampler(gSource, kCallWaitMs)) {
        // A driver call that hangs cannot be interrupted; shutting NVML down
        // or unloading it under that call could crash, so the process just ends.
        say("a GPU driver call does not return: exiting without nvmlShutdown");
        std::_Exit(0);
    }
    for (std::thread& t : samplers)
        if (t.joinable())
            t.join();
    if (gApi.shutdown)
        gApi.shutdown();
    closeNvmlLibrary(library);
    return 0;
}
