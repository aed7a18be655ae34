#include "metrics/metrics_text.h"

#include "resources/version.h"

#include <cstdint>

namespace {

// A reading as an exact decimal: value / 10^decimals, from wire units kept
// whole so that 65432 mW reads 65.432 and not 65.43199999.
struct Reading {
    bool present;
    int64_t value;
    int decimals;
};

Reading when(uint32_t flag, int64_t value, int decimals = 0) {
    return {flag != 0, value, decimals};
}
Reading whenNonZero(uint32_t value, int64_t scaled) {
    return {value != 0, scaled, 0};
}

void appendReading(std::string& out, int64_t value, int decimals) {
    uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    if (value < 0)
        out += '-';
    uint64_t scale = 1;
    for (int i = 0; i < decimals; ++i)
        scale *= 10;
    out += std::to_string(magnitude / scale);
    uint64_t fraction = magnitude % scale;
    if (fraction == 0)
        return;
    out += '.';
    while (fraction != 0) {
        scale /= 10;
        out += static_cast<char>('0' + fraction / scale);
        fraction %= scale;
    }
}

void appendUtf8(std::string& out, uint32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// The name as a label value: UTF-8, with the three escapes the format knows.
void appendNameLabel(std::string& out, const wchar_t* name) {
    const int length = kFullNameChars + 1;
    for (int i = 0; i < length && name[i] != 0; ++i) {
        uint32_t c = static_cast<uint32_t>(name[i]);
        if (sizeof(wchar_t) == 2) {
            c &= 0xFFFF;
            if (c >= 0xD800 && c < 0xDC00 && i + 1 < length) {
                uint32_t low = static_cast<uint32_t>(name[i + 1]) & 0xFFFF;
                if (low >= 0xDC00 && low < 0xE000) {
                    c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                    ++i;
                }
            }
        }
        if ((c >= 0xD800 && c < 0xE000) || c > 0x10FFFF)
            c = 0xFFFD;
        if (c == '\\')
            out += "\\\\";
        else if (c == '"')
            out += "\\\"";
        else if (c == '\n')
            out += "\\n";
        else
            appendUtf8(out, c);
    }
}

// Length of the well-formed UTF-8 sequence at text, 0 where there is none.
int utf8Length(const unsigned char* text) {
    unsigned char c = text[0];
    int length = c < 0x80                ? 1
                 : c >= 0xC2 && c < 0xE0 ? 2
                 : c >= 0xE0 && c < 0xF0 ? 3
                 : c >= 0xF0 && c < 0xF5 ? 4
                                         : 0;
    for (int i = 1; i < length; ++i)
        if ((text[i] & 0xC0) != 0x80)
            return 0;
    // No overlong forms, no surrogates, nothing above U+10FFFF.
    if ((c == 0xE0 && text[1] < 0xA0) || (c == 0xED && text[1] >= 0xA0) || (c == 0xF0 && text[1] < 0x90) ||
        (c == 0xF4 && text[1] >= 0x90))
        return 0;
    return length;
}

// Text from the driver or the system (UUID, bus id, version, a process's
// name) as a label value: UTF-8 kept, control bytes and broken sequences as
// U+FFFD, since Prometheus refuses a scrape holding bad UTF-8.
void appendTextLabel(std::string& out, const char* text) {
    const unsigned char* t = reinterpret_cast<const unsigned char*>(text);
    while (*t) {
        int length = utf8Length(t);
        if (*t == '\\')
            out += "\\\\";
        else if (*t == '"')
            out += "\\\"";
        else if (*t == '\n')
            out += "\\n";
        else if (length == 0 || *t < 0x20 || *t == 0x7F)
            out += "\xEF\xBF\xBD";
        else
            out.append(reinterpret_cast<const char*>(t), static_cast<size_t>(length));
        t += length == 0 ? 1 : length;
    }
}

// One series of a family: its second label (if any) and how to read it.
struct Series {
    const char* label; // "clock=\"graphics\"" or null
    Reading (*read)(const GpuSample&) = nullptr;
    Reading (*readHealth)(const GpuHealthReadings&) = nullptr;
};

struct Family {
    const char* name;
    const char* help;
    Series series[6];
    const char* type = "gauge";
};

const char* const kClockLabels[4] = {"clock=\"graphics\"", "clock=\"memory\"", "clock=\"processor\"",
                                     "clock=\"video\""};

// Percents become ratios as the same integer with two decimals.
const Family kFamilies[] = {
    {"gaugeline_gpu_clock_hertz",
     "Current clock of each clock domain in hertz.",
     {{kClockLabels[0],
       [](const GpuSample& s) { return when(s.graphicsClockSupported, s.graphicsClock * 1000LL); }},
      {kClockLabels[1],
       [](const GpuSample& s) { return when(s.memoryClockSupported, s.memoryClock * 1000LL); }},
      {kClockLabels[2],
       [](const GpuSample& s) { return when(s.processorClockSupported, s.processorClock * 1000LL); }},
      {kClockLabels[3],
       [](const GpuSample& s) { return when(s.videoClockSupported, s.videoClock * 1000LL); }}}},
    {"gaugeline_gpu_clock_base_hertz",
     "Base (rated) clock of each clock domain in hertz.",
     {{kClockLabels[0],
       [](const GpuSample& s) { return whenNonZero(s.graphicsClockRated, s.graphicsClockRated * 1000LL); }},
      {kClockLabels[1],
       [](const GpuSample& s) { return whenNonZero(s.memoryClockRated, s.memoryClockRated * 1000LL); }},
      {kClockLabels[2],
       [](const GpuSample& s) { return whenNonZero(s.processorClockRated, s.processorClockRated * 1000LL); }},
      {kClockLabels[3],
       [](const GpuSample& s) { return whenNonZero(s.videoClockRated, s.videoClockRated * 1000LL); }}}},
    {"gaugeline_gpu_clock_max_hertz",
     "Highest clock each clock domain can run at in hertz.",
     {{kClockLabels[0],
       [](const GpuSample& s) { return whenNonZero(s.graphicsClockMax, s.graphicsClockMax * 1000LL); }},
      {kClockLabels[1],
       [](const GpuSample& s) { return whenNonZero(s.memoryClockMax, s.memoryClockMax * 1000LL); }},
      {kClockLabels[2],
       [](const GpuSample& s) { return whenNonZero(s.processorClockMax, s.processorClockMax * 1000LL); }},
      {kClockLabels[3],
       [](const GpuSample& s) { return whenNonZero(s.videoClockMax, s.videoClockMax * 1000LL); }}}},
    {"gaugeline_gpu_utilization_ratio",
     "Busy share of each engine, 0 to 1.",
     {{"engine=\"graphics\"", [](const GpuSample& s) { return when(s.gpuLoadSupported, s.gpuLoad, 2); }},
      {"engine=\"memory_controller\"",
       [](const GpuSample& s) { return when(s.memoryControllerLoadSupported, s.memoryControllerLoad, 2); }},
      {"engine=\"video\"",
       [](const GpuSample& s) { return when(s.videoEngineLoadSupported, s.videoEngineLoad, 2); }},
      {"engine=\"bus_interface\"",
       [](const GpuSample& s) { return when(s.busInterfaceLoadSupported, s.busInterfaceLoad, 2); }},
      {"engine=\"encoder\"", nullptr,
       [](const GpuHealthReadings& h) { return when(h.encoderRead, h.encoderLoad, 2); }},
      {"engine=\"decoder\"", nullptr,
       [](const GpuHealthReadings& h) { return when(h.decoderRead, h.decoderLoad, 2); }}}},
    {"gaugeline_gpu_memory_total_bytes",
     "Memory on the board in bytes.",
     {{nullptr, [](const GpuSample& s) { return whenNonZero(s.memoryTotal, s.memoryTotal * 1024LL); }}}},
    {"gaugeline_gpu_memory_used_bytes",
     "Memory in use in bytes.",
     {{nullptr, [](const GpuSample& s) { return when(s.memoryUsageSupported, s.memoryUsage * 1024LL); }}}},
    {"gaugeline_gpu_temperature_celsius",
     "GPU temperature in degrees Celsius.",
     {{nullptr, [](const GpuSample& s) { return when(s.temperatureSupported, s.temperature); }}}},
    {"gaugeline_gpu_power_watts",
     "Power drawn by the board in watts.",
     {{nullptr, [](const GpuSample& s) { return when(s.powerDrawSupported, s.powerDraw, 3); }}}},
    {"gaugeline_gpu_power_limit_watts",
     "Power limit the driver enforces in watts.",
     {{nullptr,
       [](const GpuSample& s) { return when(s.enforcedPowerLimitSupported, s.enforcedPowerLimit, 3); }}}},
    {"gaugeline_gpu_power_management_limit_watts",
     "Power management limit in watts; the enforced limit is lower where other limits apply.",
     {{nullptr,
       [](const GpuSample& s) { return when(s.managementPowerLimitSupported, s.managementPowerLimit, 3); }}}},
    {"gaugeline_gpu_fan_ratio",
     "Fan level as a share of the fan's full speed; the driver may report more than 1.",
     {{nullptr, [](const GpuSample& s) { return when(s.fanLevelSupported, s.fanLevel, 2); }}}},
    {"gaugeline_gpu_fan_rpm",
     "Fan speed in revolutions per minute.",
     {{nullptr, [](const GpuSample& s) { return when(s.fanRpmSupported, s.fanRpm); }}}},
    {"gaugeline_gpu_pstate",
     "Performance state, 0 (highest) to 15.",
     {{nullptr, [](const GpuSample& s) { return when(s.pStateSupported, s.pState); }}}},
    {"gaugeline_gpu_core_voltage_volts",
     "GPU core voltage in volts.",
     {{nullptr, [](const GpuSample& s) { return when(s.coreVoltageSupported, s.coreVoltage, 6); }}}},
    {"gaugeline_gpu_energy_joules_total",
     "Energy the board used since the driver loaded in joules.",
     {{nullptr, nullptr,
       [](const GpuHealthReadings& h) {
           return when(h.energyRead, static_cast<int64_t>(h.energyMillijoules), 3);
       }}},
     "counter"},
    {"gaugeline_gpu_ecc_errors_total",
     "Memory errors ECC saw since the driver loaded, while ECC is on.",
     {{"type=\"corrected\"", nullptr,
       [](const GpuHealthReadings& h) { return when(h.eccRead, static_cast<int64_t>(h.eccCorrected)); }},
      {"type=\"uncorrected\"", nullptr,
       [](const GpuHealthReadings& h) { return when(h.eccRead, static_cast<int64_t>(h.eccUncorrected)); }}},
     "counter"},
};

void appendHeader(std::string& out, const char* name, const char* help, const char* type = "gauge") {
    out += "# HELP ";
    out += name;
    out += ' ';
    out += help;
    out += "\n# TYPE ";
    out += name;
    out += ' ';
    out += type;
    out += '\n';
}

// A family's header and series, or nothing where it has no series.
void appendFamily(std::string& out, std::string& lines, const char* name, const char* help,
                  const char* type = "gauge") {
    if (!lines.empty()) {
        appendHeader(out, name, help, type);
        out += lines;
    }
    lines.clear();
}

void appendSeriesStart(std::string& out, const char* name, int gpu, const GpuHealth& health) {
    out += name;
    out += "{gpu=\"";
    out += static_cast<char>('0' + gpu);
    out += "\",uuid=\"";
    appendTextLabel(out, health.identity.uuid);
    out += '"';
}

} // namespace

std::string metricsText(const GpuSample samples[kGpuSlotCount], const GpuHealth health[kGpuSlotCount],
                        int gpuCount, const bool up[kGpuSlotCount], const char* driverVersion) {
    if (gpuCount < 0)
        gpuCount = 0;
    if (gpuCount > kGpuSlotCount)
        gpuCount = kGpuSlotCount;
    std::string out;
    appendHeader(out, "gaugeline_build_info", "The Agent's version; always 1.");
    out += "gaugeline_build_info{version=\"" GAUGELINE_VERSION_TEXT "\"} 1\n";
    if (gpuCount == 0)
        return out;
    appendHeader(out, "gaugeline_gpu_info",
                 "The GPU in each slot: name, PCI bus id, driver version; always 1.");
    for (int gpu = 0; gpu < gpuCount; ++gpu) {
        appendSeriesStart(out, "gaugeline_gpu_info", gpu, health[gpu]);
        out += ",name=\"";
        appendNameLabel(out, samples[gpu].fullName);
        out += "\",pci_bus_id=\"";
        appendTextLabel(out, health[gpu].identity.pciBusId);
        out += "\",driver_version=\"";
        appendTextLabel(out, driverVersion);
        out += "\"} 1\n";
    }
    appendHeader(
        out, "gaugeline_gpu_up",
        "1 while the GPU gave a reading in the last 5 s; 0 otherwise, and its readings are left out.");
    for (int gpu = 0; gpu < gpuCount; ++gpu) {
        appendSeriesStart(out, "gaugeline_gpu_up", gpu, health[gpu]);
        out += up[gpu] ? "} 1\n" : "} 0\n";
    }
    std::string lines;
    for (const Family& family : kFamilies) {
        for (int gpu = 0; gpu < gpuCount; ++gpu) {
            if (!up[gpu])
                continue;
            for (const Series& series : family.series) {
                if (!series.read && !series.readHealth)
                    break;
                Reading r = series.read ? series.read(samples[gpu]) : series.readHealth(health[gpu].readings);
                if (!r.present)
                    continue;
                appendSeriesStart(lines, family.name, gpu, health[gpu]);
                if (series.label) {
                    lines += ',';
                    lines += series.label;
                }
                lines += "} ";
                appendReading(lines, r.value, r.decimals);
                lines += '\n';
            }
        }
        appendFamily(out, lines, family.name, family.help, family.type);
    }
    for (int gpu = 0; gpu < gpuCount; ++gpu) {
        const GpuHealthReadings& h = health[gpu].readings;
        if (!up[gpu] || !h.clockEventsRead)
            continue;
        for (const ClockEventReason& reason : kClockEventReasons) {
            if (!(h.clockEventsSupported & reason.bit))
                continue;
            appendSeriesStart(lines, "gaugeline_gpu_clock_event_active", gpu, health[gpu]);
            lines += ",reason=\"";
            lines += reason.name;
            lines += (h.clockEventsActive & reason.bit) ? "\"} 1\n" : "\"} 0\n";
        }
    }
    appendFamily(out, lines, "gaugeline_gpu_clock_event_active",
                 "1 while the driver holds the clocks down for the reason, 0 otherwise; only the reasons the "
                 "GPU reports.");
    for (int gpu = 0; gpu < gpuCount; ++gpu) {
        const XidCounts& x = health[gpu].xids;
        if (!up[gpu] || !x.watched)
            continue;
        for (int i = 0; i < x.kinds; ++i) {
            appendSeriesStart(lines, "gaugeline_gpu_xid_errors_total", gpu, health[gpu]);
            lines += ",xid=\"" + std::to_string(x.xid[i]) + "\"} " + std::to_string(x.count[i]) + '\n';
        }
        if (x.others) {
            appendSeriesStart(lines, "gaugeline_gpu_xid_errors_total", gpu, health[gpu]);
            lines += ",xid=\"other\"} " + std::to_string(x.others) + '\n';
        }
    }
    appendFamily(out, lines, "gaugeline_gpu_xid_errors_total",
                 "Critical Xid errors the driver reported since the Agent started, by Xid.", "counter");
    for (int gpu = 0; gpu < gpuCount; ++gpu) {
        const GpuProcesses& p = health[gpu].processes;
        if (!up[gpu] || !p.read)
            continue;
        for (int i = 0; i < p.count; ++i) {
            appendSeriesStart(lines, "gaugeline_gpu_process_memory_bytes", gpu, health[gpu]);
            lines += ",pid=\"" + std::to_string(p.list[i].pid) + "\",name=\"";
            appendTextLabel(lines, p.list[i].name);
            lines += "\"} " + std::to_string(p.list[i].bytes) + '\n';
        }
        if (p.others) {
            appendSeriesStart(lines, "gaugeline_gpu_process_memory_bytes", gpu, health[gpu]);
            lines += ",pid=\"other\",name=\"\"} " + std::to_string(p.otherBytes) + '\n';
        }
    }
    appendFamily(out, lines, "gaugeline_gpu_process_memory_bytes",
                 "GPU memory each process uses, over its compute and graphics work; the largest 64, the rest "
                 "as pid \"other\".");
    return out;
}
