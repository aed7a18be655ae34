// The metrics endpoint's work per scrape: the text of eight GPUs, and one
// whole scrape over loopback (connect, request, answer, close). Medians,
// printed; never judged.
#include "metrics/metrics_server.h"
#include "metrics/metrics_text.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/process_id.h"

namespace {

using Clock = std::chrono::steady_clock;

void fill(GpuSample* s, int gpu) {
    clearGpuSample(s);
    std::wcscpy(s->fullName, L"Example GPU with a long marketing name");
    for (int k = 0; k < kSampleFieldCount; ++k)
        setSampleFieldBits(s, k, kSampleFields[k].kind == WireKind::Flag ? 1u : 1234567u + gpu);
}

template <typename F> double medianMicroseconds(int runs, F run) {
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        auto start = Clock::now();
        run();
        times.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

} // namespace

int main() {
    GpuSample samples[kGpuSlotCount];
    for (int i = 0; i < kGpuSlotCount; ++i)
        fill(&samples[i], i);
    size_t textBytes = 0;
    bool up[kGpuSlotCount];
    for (bool& u : up)
        u = true;
    // Every GPU with its identity and every health reading.
    static GpuHealth health[kGpuSlotCount];
    for (int i = 0; i < kGpuSlotCount; ++i) {
        std::snprintf(health[i].identity.uuid, sizeof health[i].identity.uuid,
                      "GPU-00000000-0000-4000-8000-0000000000%02d", i);
        std::strcpy(health[i].identity.pciBusId, "00000000:01:00.0");
        GpuHealthReadings& h = health[i].readings;
        h.energyRead = h.clockEventsRead = h.encoderRead = h.decoderRead = h.eccRead = true;
        h.energyMillijoules = 123456789, h.clockEventsSupported = 0x1FF;
    }
    double text = medianMicroseconds(
        2001, [&] { textBytes += metricsText(samples, health, kGpuSlotCount, up, "550.54.15").size(); });
    std::printf("metrics text, 8 GPUs (%zu bytes): median %.2f us\n", textBytes / 2001, text);

    // The same eight GPUs behind the server.

    netStartup();
    static AgentState state;
    resetAgentSlots(state);
    for (int i = 0; i < kGpuSlotCount; ++i) {
        std::wcscpy(state.slots[i].fullName, samples[i].fullName);
#define GAUGELINE_STORE_FIELD(name, kind, conv) state.slots[i].sample.name.store(samples[i].name);
        GAUGELINE_SAMPLE_FIELDS(GAUGELINE_STORE_FIELD)
#undef GAUGELINE_STORE_FIELD
        noteReading(state.slots[i]);
    }
    state.gpuCount.store(kGpuSlotCount);
    std::atomic<bool> stop{false};
    MetricsConfig config;
    config.port = static_cast<uint16_t>(15019 + (GAUGELINE_PID % 300) * 20);
    config.stop = &stop;
    TcpSocket listener = openMetricsListener(config);
    if (listener == kNoSocket) {
        std::printf("metrics scrape: port %u not available\n", config.port);
        return 0;
    }
    std::thread server([&] { runMetricsServer(state, config, listener); });
    uint32_t loopback = 0;
    parseInetAddr("127.0.0.1", &loopback);
    const char request[] = "GET /metrics HTTP/1.1\r\nHost: bench\r\n\r\n";
    size_t answerBytes = 0;
    double scrape = medianMicroseconds(501, [&] {
        TcpSocket s = tcpConnect(loopback, config.port, 3000);
        tcpSendAll(s, request, static_cast<int>(std::strlen(request)), 3000);
        char buffer[16384];
        for (int n; (n = tcpRecvOnce(s, buffer, sizeof buffer, 3000)) > 0;)
            answerBytes += n;
        tcpClose(s);
    });
    std::printf("metrics scrape over loopback, 8 GPUs (%zu bytes): median %.1f us\n", answerBytes / 501,
                scrape);
    stop.store(true);
    server.join();
    netCleanup();
    return 0;
}
