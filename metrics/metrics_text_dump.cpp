// Prints the metrics text of two GPUs with every reading given, for
// promtool to judge (the agent_metrics_promtool test).
#include "metrics/metrics_text.h"

#include <cstdio>
#include <cstring>
#include <cwchar>

int main() {
    GpuSample s[kGpuSlotCount];
    for (int i = 0; i < kGpuSlotCount; ++i) {
        clearGpuSample(&s[i]);
        for (int k = 0; k < kSampleFieldCount; ++k)
            if (kSampleFields[k].kind == WireKind::Flag)
                setSampleFieldBits(&s[i], k, 1);
        GpuSample& g = s[i];
        g.graphicsClock = 1733000 + i, g.memoryClock = 7001000, g.processorClock = 1733500;
        g.videoClock = 1530000, g.graphicsClockRated = 1500000, g.memoryClockRated = 7000000;
        g.processorClockRated = 1500000, g.videoClockRated = 1400000;
        g.gpuLoad = 55, g.memoryControllerLoad = 3, g.videoEngineLoad = 100, g.busInterfaceLoad = 0;
        g.memoryTotal = 8388608, g.memoryUsage = 1048577, g.temperature = 54 - 66 * i;
        g.powerDraw = 65432, g.powerLimit = 250000, g.fanLevel = 40, g.fanRpm = 1450;
        g.pState = 2, g.coreVoltage = 850000;
        g.enforcedPowerLimitSupported = 1, g.enforcedPowerLimit = 240000;
        g.managementPowerLimitSupported = 1, g.managementPowerLimit = 250000;
    }
    std::wcscpy(s[0].fullName, L"Kovra \"Test\" GPU \\ \u00E9\u4E2D\n");
    std::wcscpy(s[1].fullName, L"Second GPU \U0001F600");
    GpuHealth health[kGpuSlotCount];
    std::strcpy(health[0].identity.uuid, "GPU-8f5e1a2b-3c4d-4e5f-8a9b-0c1d2e3f4a5b");
    std::strcpy(health[0].identity.pciBusId, "00000000:01:00.0");
    GpuHealthReadings& h = health[0].readings;
    h.energyRead = h.clockEventsRead = h.encoderRead = h.decoderRead = h.eccRead = true;
    h.energyMillijoules = 123456789, h.clockEventsSupported = 0x1FF, h.clockEventsActive = 0x41;
    h.encoderLoad = 12, h.decoderLoad = 7, h.eccCorrected = 3, h.eccUncorrected = 1;
    health[0].xids.watched = true;
    countXid(health[0].xids, 79);
    countXid(health[0].xids, 79);
    countXid(health[0].xids, 13);
    const bool up[kGpuSlotCount] = {true, true};
    std::fputs(metricsText(s, health, 2, up, "535.183.01").c_str(), stdout);
    return 0;
}
