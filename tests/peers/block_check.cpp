#include "tests/peers/block_check.h"

#include <cstdio>
#include <cstring>
#include <cwchar>

namespace {

bool isDotted(const std::string& s) {
    int parts = 0, digits = 0, value = 0;
    for (char c : s + ".") {
        if (c == '.') {
            if (digits == 0 || value > 255)
                return false;
            ++parts;
            digits = value = 0;
        } else if (c >= '0' && c <= '9') {
            if (digits == 1 && value == 0)
                return false;
            value = value * 10 + (c - '0');
            if (++digits > 3)
                return false;
        } else {
            return false;
        }
    }
    return parts == 4;
}

// Decimal without sign or leading zeros, at most 4294967295.
bool readUnsigned(const std::string& s, uint32_t* v) {
    if (s.empty() || s.size() > 10 || (s.size() > 1 && s[0] == '0'))
        return false;
    uint64_t x = 0;
    for (char c : s) {
        if (c < '0' || c > '9')
            return false;
        x = x * 10 + static_cast<uint64_t>(c - '0');
    }
    if (x > 0xFFFFFFFFull)
        return false;
    *v = static_cast<uint32_t>(x);
    return true;
}

bool fail(std::string* error, int line, const char* what, const std::string& text) {
    char buf[200];
    std::snprintf(buf, sizeof buf, "line %d: %s [%.60s]", line, what, text.c_str());
    *error = buf;
    return false;
}

} // namespace

int sampleFieldIndex(const char* name) {
    for (int k = 0; k < kSampleFieldCount; ++k)
        if (std::strcmp(kSampleFields[k].name, name) == 0)
            return k;
    return -1;
}

bool checkReportBlock(const uint8_t block[kReportBlockBytes], CheckedBlock* out, std::string* error) {
    std::string lines[2 + kGpuSlotCount * kLinesPerGpu];
    const int lineCount = 2 + kGpuSlotCount * kLinesPerGpu;
    int pos = 0;
    for (int i = 0; i < lineCount; ++i) {
        int start = pos;
        while (pos < kReportBlockBytes && block[pos] != '\n') {
            if (block[pos] == 0 || block[pos] == '\r')
                return fail(error, i + 1,
                            block[pos] ? "carriage return in line" : "zero byte inside the text",
                            std::string(reinterpret_cast<const char*>(block + start), pos - start));
            ++pos;
        }
        if (pos >= kReportBlockBytes)
            return fail(error, i + 1, "block ends before the line's line feed", "");
        lines[i].assign(reinterpret_cast<const char*>(block + start), pos - start);
        ++pos;
    }
    out->textBytes = pos;
    for (int i = pos; i < kReportBlockBytes; ++i)
        if (block[i] != 0)
            return fail(error, lineCount, "non-zero byte after the last line", std::to_string(i));

    out->agentLabel = lines[0];
    if (!isDotted(lines[0]))
        return fail(error, 1, "agent label is not dotted IPv4 text", lines[0]);
    if (lines[1].size() != 1 || lines[1][0] < '1' || lines[1][0] > '8')
        return fail(error, 2, "gpu count is not one digit 1..8", lines[1]);
    out->gpuCount = lines[1][0] - '0';

    for (int slot = 0; slot < kGpuSlotCount; ++slot) {
        const std::string* part = lines + 2 + slot * kLinesPerGpu;
        int base = 3 + slot * kLinesPerGpu;
        CheckedGpu& g = out->gpus[slot];
        g.fullName = part[0];
        g.tabLabel = part[1];
        if (part[0].empty() || part[0].size() > 50)
            return fail(error, base, "full name empty or longer than 50 bytes", part[0]);
        if (part[1].size() > 49)
            return fail(error, base + 1, "tab label longer than 49 bytes", part[1]);
        for (int k = 0; k < kSampleFieldCount; ++k) {
            const std::string& t = part[2 + k];
            uint32_t v = 0;
            if (kSampleFields[k].kind == WireKind::Flag) {
                if (t != "0" && t != "1")
                    return fail(error, base + 2 + k, "flag is not 0 or 1", t);
                v = t == "1";
            } else if (kSampleFields[k].kind == WireKind::Signed && !t.empty() && t[0] == '-') {
                uint32_t m = 0;
                if (!readUnsigned(t.substr(1), &m) || m == 0 || m > 0x80000000u)
                    return fail(error, base + 2 + k, "bad signed number", t);
                v = 0u - m;
            } else if (!readUnsigned(t, &v)) {
                return fail(error, base + 2 + k, "bad unsigned number", t);
            }
            g.fields[k] = v;
        }
        if (slot >= out->gpuCount) {
            if (part[0] != kEmptyGpuName || !part[1].empty())
                return fail(error, base, "slot beyond gpu count is not \"- empty -\" with an empty label",
                            part[0]);
            for (int k = 0; k < kSampleFieldCount; ++k)
                if (g.fields[k] != 0)
                    return fail(error, base + 2 + k, "slot beyond gpu count holds a non-zero value",
                                part[2 + k]);
        } else if (part[1].empty()) {
            return fail(error, base + 1, "GPU in use has an empty tab label", part[1]);
        }
    }
    return true;
}

void exampleSample(GpuSample* s, int slot, int gpuCount, uint32_t tick) {
    clearGpuSample(s);
    std::wcscpy(s->fullName, L"Example GPU");
    char suffix[16] = "";
    if (gpuCount > 1)
        std::snprintf(suffix, sizeof suffix, "(%d)", slot + 1);
    // " (DP 接続)" / " (HDMI 接続)" in code page 932
    const char* connector = slot % 2 ? " (HDMI \x90\xDA\x91\xB1)" : " (DP \x90\xDA\x91\xB1)";
    std::snprintf(s->tabLabel, sizeof s->tabLabel, "Example GPU%s%s", suffix, connector);
    uint32_t d = static_cast<uint32_t>(slot);
    s->graphicsClockSupported = s->memoryClockSupported = 1;
    s->graphicsClock = 1733000 - d * 100000;
    s->memoryClock = 5005000;
    s->videoClockSupported = 1;
    s->videoClock = 1620000;
    s->graphicsClockRated = 1607000;
    s->memoryClockRated = 5005000;
    s->videoClockRated = 1506000;
    s->graphicsClockScale = 1911000;
    s->memoryClockScale = 5005000;
    s->gpuLoadSupported = 1;
    s->gpuLoad = static_cast<int32_t>((37 + d * 10 + tick * 7) % 101);
    s->memoryTotal = 8388608;
    s->memoryUsageSupported = 1;
    s->memoryUsage = 1203456 + d * 1048576;
    s->temperatureSupported = 1;
    s->temperature = static_cast<int32_t>(54 + d);
    s->powerDrawSupported = 1;
    s->powerLimit = 180000;
    s->powerDraw = 65432 + d * 10000;
    s->driverModelSupported = 1;
    s->pStateSupported = 1;
    s->memoryControllerLoadSupported = 1;
    s->memoryControllerLoad = 21;
    s->videoEngineLoadSupported = 1;
    s->busInterfaceLoadSupported = 1;
    s->busInterfaceLoad = 3;
    s->fanLevelSupported = 1;
    s->fanLevel = 33;
    s->fanRpmSupported = 1;
    s->fanRpm = 1125;
    s->coreVoltageRatedSupported = 1;
    s->coreVoltageRated = 1062500;
    s->coreVoltageSupported = 1;
    s->coreVoltage = 1043000;
}
