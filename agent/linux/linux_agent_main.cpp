// gaugeline-agent: the Agent for Linux. Reads the NVIDIA GPUs through NVML,
// loaded at run time, and reports them to the Console that asks, exactly as
// the Windows Agent does. No window: one status line per event on standard error.
#include "agent/core/agent_state.h"
#include "agent/core/fleet_options.h"
#include "agent/core/reporter.h"
#include "agent/linux/nvml_source.h"
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

// 0 to go on, else the exit status (the usage already printed).
int parseOptions(int argc, char** argv, ReporterConfig& config) {
    for (int i = 1; i < argc; ++i) {
        const char* option = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        uint32_t address = 0;
        bool ok = false;
        char message[256];
        FleetOptionResult fleet = readFleetOption(option, value, gFleet, message, sizeof message);
        if (fleet == FleetOptionResult::Bad) {
            say("%s", message);
            return 2;
        }
        if (fleet == FleetOptionResult::Taken) {
            ok = true;
        } else if (std::strcmp(option, "--help") == 0) {
            std::printf("%s %s\n", kUsage, kFleetUsage);
            return -1;
        } else if (std::strcmp(option, "--listen-port") == 0 && value) {
            ok = parsePort(value, &config.listenPort);
        } else if (std::strcmp(option, "--report-port") == 0 && value) {
            ok = parsePort(value, &config.reportPort);
        } else if (std::strcmp(option, "--bind") == 0 && value) {
            ok = parseInetAddr(value, &address);
            config.bindAddress = value;
        }
        if (!ok) {
            std::fprintf(stderr, "%s %s\n", kUsage, kFleetUsage);
            return 2;
        }
        ++i;
    }
    return 0;
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
    if (int status = parseOptions(argc, argv, config))
        return status < 0 ? 0 : status;

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
    gSource.lostHook = onLost;
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
    TcpSocket metricsListener = kNoSocket;
    MetricsConfig metrics;
    if (gFleet.metrics) {
        std::memcpy(metrics.address, gFleet.metricsAddress, sizeof metrics.address);
        metrics.port = gFleet.metricsPort;
        metricsListener = openMetricsListener(metrics);
        if (metricsListener == kNoSocket) {
            say("cannot listen for metrics on %s:%u: in use, or not an address of this machine",
                gFleet.metricsAddress, static_cast<unsigned>(gFleet.metricsPort));
            return endEarly(library);
        }
        say("serving metrics on http://%s:%u/metrics", gFleet.metricsAddress,
            static_cast<unsigned>(gFleet.metricsPort));
    }

    gState.agentRunning.store(1);
    std::thread samplers[kGpuSlotCount];
    for (int i = 0; i < gpuCount; ++i)
        if (gSource.devices[i])
            samplers[i] = std::thread([i] { runSampler(gState, gSource, i); });

    std::atomic<bool> reporterStop{false};
    config.answerFromRequestAddress = true;
    config.event = onReporterEvent;
    config.eventContext = &config;
    config.stop = &reporterStop;
    config.allow = &gFleet.allow;
    std::thread reporter([&config] { runReporter(gState, config); });
    metrics.allow = &gFleet.allow;
    metrics.stop = &reporterStop;
    std::thread metricsServer;
    if (metricsListener != kNoSocket)
        metricsServer =
            std::thread([&metrics, metricsListener] { runMetricsServer(gState, metrics, metricsListener); });

    int signal = 0;
    while (sigwait(&stopSignals, &signal) != 0) {
    }
    say("stopping");
    reporterStop.store(true);
    reporter.join();
    if (metricsServer.joinable())
        metricsServer.join();
    gState.agentRunning.store(0);
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
