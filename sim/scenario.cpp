#include "sim/scenario.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>

const SimFunctionInfo kSimFunctions[kSimFunctionCount] = {
#define GAUGELINE_SIM_NVAPI_INFO(entry, name, id, ...) {#name, id, false},
#define GAUGELINE_SIM_EXTRA_INFO(entry, name) {#name, 0, true},
    GAUGELINE_NVAPI_DRIVER_FUNCTIONS(GAUGELINE_SIM_NVAPI_INFO)
        GAUGELINE_NVAPI_CALLS(GAUGELINE_SIM_NVAPI_INFO){"nvapi_QueryInterface", 0, false},
    GAUGELINE_SIM_NVML_EXPORTS(GAUGELINE_SIM_EXTRA_INFO)
#undef GAUGELINE_SIM_NVAPI_INFO
#undef GAUGELINE_SIM_EXTRA_INFO
};

const char* const kSimReadingNames[kSimReadingCount] = {
    "graphicsClock",
    "memoryClock",
    "processorClock",
    "videoClock",
    "graphicsClockBase",
    "memoryClockBase",
    "processorClockBase",
    "videoClockBase",
    "graphicsClockBoost",
    "memoryClockBoost",
    "processorClockBoost",
    "videoClockBoost",
    "gpuLoad",
    "memoryControllerLoad",
    "videoEngineLoad",
    "busInterfaceLoad",
    "temperature",
    "memoryTotal",
    "memoryUsed",
    "fanLevel",
    "fanRpm",
    "coreVoltage",
    "baseVoltage",
    "powerDraw",
    "powerLimit",
    "pstate",
    "encoderLoad",
    "decoderLoad",
    "powerManagementLimit",
    "energy",
    "clockEventsSupported",
    "clockEventsActive",
    "eccCorrected",
    "eccUncorrected",
};

const char* const kSimRecordNames[kSimRecordCount] = {"clocks",  "pstates",    "thermal", "memory", "cooler",
                                                      "dynamic", "displayids", "voltage", "usage"};

namespace {
std::string lower(std::string s) {
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

bool parseU32(const std::string& token, uint32_t& value) {
    if (token.empty() || token[0] == '-' || token[0] == '+')
        return false;
    errno = 0;
    char* end = nullptr;
    unsigned long long v = std::strtoull(token.c_str(), &end, 0);
    if (errno != 0 || *end != '\0' || v > UINT32_MAX)
        return false;
    value = static_cast<uint32_t>(v);
    return true;
}

bool parseI32(const std::string& token, int32_t& value) {
    if (token.empty())
        return false;
    errno = 0;
    char* end = nullptr;
    long long v = std::strtoll(token.c_str(), &end, 0);
    if (errno != 0 || *end != '\0' || v < INT32_MIN || v > INT32_MAX)
        return false;
    value = static_cast<int32_t>(v);
    return true;
}

bool parseNumber(const std::string& token, double& value) {
    if (token.empty())
        return false;
    errno = 0;
    char* end = nullptr;
    double v = std::strtod(token.c_str(), &end);
    if (errno != 0 || *end != '\0' || !std::isfinite(v) || std::fabs(v) > 1e15)
        return false;
    value = v;
    return true;
}

int findIn(const char* const* names, int count, const std::string& token) {
    std::string wanted = lower(token);
    for (int i = 0; i < count; ++i) {
        if (lower(names[i]) == wanted)
            return i;
    }
    return -1;
}

bool parseConnector(const std::string& token, int32_t& value) {
    static const struct {
        const char* name;
        int32_t value;
    } kConnectors[] = {{"UNINITIALIZED", 0}, {"VGA", 1},     {"COMPONENT", 2}, {"SVIDEO", 3},
                       {"HDMI", 4},          {"DVI", 5},     {"LVDS", 6},      {"DP", 7},
                       {"COMPOSITE", 8},     {"UNKNOWN", -1}};
    std::string wanted = lower(token);
    for (const auto& c : kConnectors) {
        if (lower(c.name) == wanted) {
            value = c.value;
            return true;
        }
    }
    return parseI32(token, value);
}

// Reading model from the words after the reading name; empty text on success.
std::string parseModel(const std::vector<std::string>& words, size_t at, ReadingModel& model) {
    if (at >= words.size())
        return "reading needs a value";
    std::string kind = lower(words[at]);
    std::vector<double> n;
    size_t first = at + 1;
    if (kind != "const" && kind != "ramp" && kind != "wave") {
        kind = "const";
        first = at;
    }
    for (size_t i = first; i < words.size(); ++i) {
        double v;
        if (!parseNumber(words[i], v))
            return "bad number '" + words[i] + "'";
        n.push_back(v);
    }
    ReadingModel m;
    if (kind == "const") {
        if (n.size() != 1)
            return "const takes one value";
        m.a = n[0];
    } else if (kind == "ramp") {
        if (n.size() != 2 && n.size() != 3)
            return "ramp takes start, per-second change and an optional limit";
        m.kind = ReadingKind::Ramp;
        m.a = n[0];
        m.b = n[1];
        if (n.size() == 3) {
            m.hasLimit = true;
            m.c = n[2];
        }
    } else {
        if (n.size() != 3 && n.size() != 4)
            return "wave takes low, high, period and an optional phase";
        if (n[2] <= 0)
            return "wave period must be above 0";
        m.kind = ReadingKind::Wave;
        m.a = n[0];
        m.b = n[1];
        m.c = n[2];
        m.d = n.size() == 4 ? n[3] : 0;
    }
    model = m;
    return "";
}

struct Selectors {
    int gpu = -1;
    int selector = -1;
    bool hasFrom = false, hasUntil = false;
    uint32_t from = 1, until = UINT32_MAX;
    bool hasStatus = false;
    int32_t status = 0;
};

std::string parseSelectors(const std::vector<std::string>& words, size_t at, Selectors& s, bool delayRule) {
    for (size_t i = at; i < words.size(); i += 2) {
        std::string key = lower(words[i]);
        if (key == "always" && !delayRule) {
            --i; // takes no value
            continue;
        }
        if (i + 1 >= words.size())
            return "'" + words[i] + "' needs a value";
        const std::string& value = words[i + 1];
        uint32_t u;
        if (key == "gpu" && parseU32(value, u) && u < kSimMaxGpus) {
            s.gpu = static_cast<int>(u);
        } else if (key == "type" && !delayRule && parseU32(value, u) && u < 256) {
            s.selector = static_cast<int>(u);
        } else if (key == "from" && !delayRule && parseU32(value, u) && u >= 1) {
            s.hasFrom = true;
            s.from = u;
        } else if (key == "until" && !delayRule && parseU32(value, u) && u >= 1) {
            s.hasUntil = true;
            s.until = u;
        } else if (key == "status" && !delayRule && parseI32(value, s.status)) {
            s.hasStatus = true;
        } else {
            return "bad qualifier '" + words[i] + " " + value + "'";
        }
    }
    if (s.hasFrom && s.hasUntil && s.from > s.until)
        return "'from' lies after 'until'";
    return "";
}

// One gpu line; empty text on success.
std::string parseGpuLine(const std::string& line, const std::vector<std::string>& words,
                         std::map<int, SimGpu>& gpus) {
    uint32_t index;
    if (words.size() < 3 || !parseU32(words[1], index) || index >= kSimMaxGpus)
        return "gpu needs an index 0-63 and a property";
    SimGpu gpu = gpus.count(index) ? gpus[index] : defaultSimGpu(static_cast<int>(index));
    std::string key = lower(words[2]);
    size_t values = words.size() - 3;
    uint32_t u;
    int32_t i;
    double d, d2;
    if (key == "physical" || key == "tcc") {
        if (values != 0)
            return "'" + key + "' takes no value";
        gpu.tcc = key == "tcc";
    } else if (key == "name") {
        // The name runs to the end of the line, spaces included.
        size_t pos = line.find(words[2]);
        pos = line.find_first_not_of(" \t", pos + words[2].size());
        if (pos == std::string::npos)
            return "name needs a text";
        std::string name = line.substr(pos);
        while (!name.empty() && (name.back() == ' ' || name.back() == '\t'))
            name.pop_back();
        if (name.size() > kSimNameMax)
            name.resize(kSimNameMax);
        gpu.name = name;
    } else if (key == "uuid" && values == 1 && words[3].size() < 80) {
        gpu.uuid = words[3];
    } else if (key == "xid") {
        uint64_t xid = 0;
        if (values != 2 || !parseU32(words[3], u) || !parseNumber(words[4], d) || d < 0)
            return "xid needs a number and seconds";
        xid = u;
        gpu.xids.push_back(SimXid{xid, d});
    } else if (key == "process") {
        SimProcess process;
        std::string mode = values == 3 ? lower(words[4]) : "";
        if ((words[3] != "self" && !parseU32(words[3], process.pid)) ||
            (mode != "compute" && mode != "graphics") || (words[5] != "na" && !parseNumber(words[5], d)) ||
            (words[5] != "na" && d < 0))
            return "process needs a pid (or self), compute or graphics, and MiB (or na)";
        process.graphics = mode == "graphics";
        process.known = words[5] != "na";
        process.bytes = process.known ? static_cast<uint64_t>(d * 1048576) : 0;
        gpu.processes.push_back(process);
    } else if (key == "bus" && values == 1 && parseU32(words[3], u) && u <= 255) {
        gpu.bus = u;
    } else if (key == "connector" && values == 1 && parseConnector(words[3], i)) {
        gpu.connector = i;
    } else if (key == "displays" && values == 1 && parseU32(words[3], u) && u <= 16) {
        gpu.displays = u;
    } else if (key == "drivermodel" && values == 1 && parseI32(words[3], i) && i >= 0 && i <= 2) {
        gpu.driverModel = i;
    } else if (key == "coolers" && values == 1 && parseU32(words[3], u) && u <= 8) {
        gpu.coolers = u;
    } else if (key == "rpmflag" && values == 1 && parseU32(words[3], u) && u <= 1) {
        gpu.rpmFlag = u == 1;
    } else if (key == "pstates" && values == 1 && parseU32(words[3], u) && u >= 1 && u <= 16) {
        gpu.pstates = u;
    } else if (key == "lost") {
        if (values != 1 || !parseNumber(words[3], d) || d < 0)
            return "lost needs seconds";
        gpu.lostAt = d;
    } else if (key == "hang") {
        if (values != 2 || !parseNumber(words[3], d) || d < 0 || !parseNumber(words[4], d2) || d2 <= 0)
            return "hang needs a start and seconds above 0";
        gpu.hangFrom = d;
        gpu.hangSeconds = d2;
    } else if (key == "domains") {
        uint32_t mask = 0;
        for (size_t w = 3; w < words.size(); ++w) {
            if (!parseU32(words[w], u) || (u != 0 && u != 4 && u != 7 && u != 8))
                return "domains are 0, 4, 7 and 8";
            mask |= 1u << u;
        }
        gpu.domainMask = mask;
    } else if (key == "accept") {
        int record = values >= 1 ? findIn(kSimRecordNames, kSimRecordCount, words[3]) : -1;
        if (record < 0)
            return "accept needs a record name";
        std::vector<uint32_t> versions;
        for (size_t w = 4; w < words.size(); ++w) {
            if (!parseU32(words[w], u))
                return "bad version word '" + words[w] + "'";
            versions.push_back(u);
        }
        if (versions.empty())
            versions.push_back(0); // accepts none
        gpu.accepts[record] = versions;
    } else {
        int reading = findIn(kSimReadingNames, kSimReadingCount, words[2]);
        if (reading < 0)
            return "unknown gpu property '" + words[2] + "'";
        std::string error = parseModel(words, 3, gpu.readings[reading]);
        if (!error.empty())
            return error;
        gpu.readings[reading].given = true;
    }
    gpus[index] = gpu;
    return "";
}
} // namespace

int findSimFunction(const std::string& token) {
    uint32_t id;
    if (token.size() > 2 && token[0] == '0' && (token[1] == 'x' || token[1] == 'X') && parseU32(token, id))
        return findSimFunctionById(id);
    std::string wanted = lower(token);
    for (int i = 0; i < kSimFunctionCount; ++i) {
        std::string name = lower(kSimFunctions[i].name);
        if (name == wanted || name == "nvapi_" + wanted || name == "nvapi_gpu_" + wanted)
            return i;
    }
    return -1;
}

int findSimFunctionById(uint32_t id) {
    if (id == 0)
        return -1;
    for (int i = 0; i < kSimFunctionCount; ++i) {
        if (kSimFunctions[i].id == id)
            return i;
    }
    return -1;
}

double evaluateReading(const ReadingModel& m, double seconds) {
    switch (m.kind) {
    case ReadingKind::Constant:
        return m.a;
    case ReadingKind::Ramp: {
        double v = m.a + m.b * seconds;
        if (m.hasLimit)
            v = m.b >= 0 ? std::min(v, m.c) : std::max(v, m.c);
        return v;
    }
    case ReadingKind::Wave: {
        const double kPi = 3.14159265358979323846;
        double phase = 2 * kPi * (seconds - m.d) / m.c;
        return m.a + (m.b - m.a) * (0.5 - 0.5 * std::cos(phase)); // starts at the low end
    }
    }
    return 0;
}

int64_t readingValue(const ReadingModel& model, double seconds, int64_t low, int64_t high) {
    double v = evaluateReading(model, seconds);
    if (!std::isfinite(v) || v <= static_cast<double>(low))
        return low;
    if (v >= static_cast<double>(high))
        return high;
    return static_cast<int64_t>(std::llround(v));
}

const std::vector<uint32_t>& defaultRecordVersions(SimRecord record) {
    static const std::vector<uint32_t> kVersions[kSimRecordCount] = {
        {0x10108, 0x20108, 0x30108},
        {0x11C94, 0x21CF8, 0x31CF8},
        {0x10044, 0x20044},
        {0x10014, 0x20018},
        {0x40558, 0x30508, 0x203C8, 0x103C8, 0x10098},
        {0x10048},
        {0x10010, 0x30010},
        {0x1008C},
        {0x10088},
    };
    static const std::vector<uint32_t> kNone;
    int index = static_cast<int>(record);
    return index >= 0 && index < kSimRecordCount ? kVersions[index] : kNone;
}

SimGpu defaultSimGpu(int index) {
    SimGpu gpu;
    gpu.index = index;
    gpu.bus = static_cast<uint32_t>(index + 1);
    auto set = [&](SimReading reading, double value) { gpu.readings[static_cast<int>(reading)].a = value; };
    set(SimReading::GraphicsClock, 1500000);
    set(SimReading::MemoryClock, 7000000);
    set(SimReading::ProcessorClock, 3000000);
    set(SimReading::VideoClock, 1300000);
    set(SimReading::GraphicsClockBase, 1400000);
    set(SimReading::MemoryClockBase, 7000000);
    set(SimReading::ProcessorClockBase, 2800000);
    set(SimReading::VideoClockBase, 1200000);
    set(SimReading::GraphicsClockBoost, 1800000);
    set(SimReading::MemoryClockBoost, 7000000);
    set(SimReading::ProcessorClockBoost, 3600000);
    set(SimReading::VideoClockBoost, 1500000);
    set(SimReading::GpuLoad, 30);
    set(SimReading::MemoryControllerLoad, 20);
    set(SimReading::VideoEngineLoad, 5);
    set(SimReading::BusInterfaceLoad, 2);
    set(SimReading::Temperature, 50);
    set(SimReading::MemoryTotal, 8388608);
    set(SimReading::MemoryUsed, 1048576);
    set(SimReading::FanLevel, 40);
    set(SimReading::FanRpm, 1500);
    set(SimReading::CoreVoltage, 875000);
    set(SimReading::BaseVoltage, 800000);
    set(SimReading::PowerDraw, 90000);
    set(SimReading::PowerLimit, 220000);
    set(SimReading::Pstate, 0);
    return gpu;
}

const ReadingModel& powerManagementLimitModel(const SimGpu& gpu) {
    const ReadingModel& management = modelOf(gpu, SimReading::PowerManagementLimit);
    return management.given ? management : modelOf(gpu, SimReading::PowerLimit);
}

const ReadingModel& encoderLoadModel(const SimGpu& gpu) {
    const ReadingModel& encoder = modelOf(gpu, SimReading::EncoderLoad);
    return encoder.given ? encoder : modelOf(gpu, SimReading::VideoEngineLoad);
}

std::string gpuUuid(const SimGpu& gpu) {
    if (!gpu.uuid.empty())
        return gpu.uuid;
    char text[48];
    std::snprintf(text, sizeof text, "GPU-00000000-0000-4000-8000-0000000000%02X", gpu.index);
    return text;
}

bool gpuLostAt(const SimGpu& gpu, double seconds) {
    return gpu.lostAt >= 0 && seconds >= gpu.lostAt;
}

double gpuHangWait(const SimGpu& gpu, double seconds) {
    double end = gpu.hangFrom + gpu.hangSeconds;
    return seconds >= gpu.hangFrom && seconds < end ? end - seconds : 0;
}

bool gpuAcceptsVersion(const SimGpu& gpu, SimRecord record, uint32_t version) {
    const std::vector<uint32_t>& given = gpu.accepts[static_cast<int>(record)];
    const std::vector<uint32_t>& list = given.empty() ? defaultRecordVersions(record) : given;
    return std::find(list.begin(), list.end(), version) != list.end() && version != 0;
}

int32_t gpuDriverModel(const SimGpu& gpu) {
    return gpu.driverModel >= 0 ? gpu.driverModel : (gpu.tcc ? 1 : 0);
}

Scenario defaultScenario() {
    Scenario s;
    s.gpus.push_back(defaultSimGpu(0));
    return s;
}

Scenario parseScenario(const std::string& text) {
    Scenario s;
    std::map<int, SimGpu> gpus;
    std::istringstream in(text);
    std::string line;
    int lineNumber = 0;
    while (std::getline(in, line)) {
        ++lineNumber;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        std::istringstream words_in(line);
        std::vector<std::string> words;
        for (std::string w; words_in >> w;)
            words.push_back(w);
        if (words.empty() || words[0][0] == '#')
            continue;
        std::string key = lower(words[0]);
        std::string error;
        if (key == "gpu") {
            error = parseGpuLine(line, words, gpus);
        } else if (key == "hooks" && words.size() == 2) {
            std::string which = lower(words[1]);
            if (which == "both" || which == "entry" || which == "exit" || which == "none") {
                s.entryHook = which == "both" || which == "entry";
                s.exitHook = which == "both" || which == "exit";
            } else {
                error = "hooks are both, entry, exit or none";
            }
        } else if (key == "omit" && words.size() >= 2) {
            bool omitted[kSimFunctionCount] = {};
            for (size_t w = 1; w < words.size() && error.empty(); ++w) {
                int f = findSimFunction(words[w]);
                if (f < 0)
                    error = "unknown function '" + words[w] + "'";
                else
                    omitted[f] = true;
            }
            if (error.empty()) {
                for (int f = 0; f < kSimFunctionCount; ++f)
                    s.omitted[f] = s.omitted[f] || omitted[f];
            }
        } else if ((key == "fail" || key == "delay") && words.size() >= 2) {
            int f = findSimFunction(words[1]);
            Selectors sel;
            uint32_t ms = 0;
            size_t qualifiers = 2;
            if (f < 0) {
                error = "unknown function '" + words[1] + "'";
            } else if (key == "delay" && (words.size() < 3 || !parseU32(words[2], ms) || ms > 60000)) {
                error = "delay needs milliseconds up to 60000";
            } else {
                if (key == "delay")
                    qualifiers = 3;
                error = parseSelectors(words, qualifiers, sel, key == "delay");
            }
            if (error.empty() && key == "fail") {
                FailRule rule;
                rule.function = static_cast<SimFunction>(f);
                rule.gpu = sel.gpu;
                rule.selector = sel.selector;
                rule.from = sel.from;
                rule.until = sel.until;
                rule.hasStatus = sel.hasStatus;
                rule.status = sel.status;
                s.fails.push_back(rule);
            } else if (error.empty()) {
                s.delays.push_back(DelayRule{static_cast<SimFunction>(f), sel.gpu, ms});
            }
        } else if (key == "driver" && words.size() == 2 && words[1].size() < 80) {
            s.driverVersion = words[1];
        } else if (key == "nogpus" && words.size() == 1) {
            s.noGpus = true;
        } else if (key == "time" && words.size() == 2) {
            double seconds;
            if (parseNumber(words[1], seconds) && seconds >= 0) {
                s.fixedTime = true;
                s.fixedSeconds = seconds;
            } else {
                error = "time needs seconds";
            }
        } else {
            error = "unknown or incomplete line";
        }
        if (!error.empty())
            s.errors.push_back(ScenarioError{lineNumber, error});
    }
    if (s.noGpus) {
        if (!gpus.empty())
            s.errors.push_back(ScenarioError{lineNumber, "nogpus and gpu lines together; no GPUs kept"});
    } else if (gpus.empty()) {
        s.gpus.push_back(defaultSimGpu(0));
    }
    if (!s.noGpus) {
        for (auto& entry : gpus)
            s.gpus.push_back(entry.second);
    }
    return s;
}

bool failStatus(const Scenario& scenario, SimFunction function, int gpu, int selector, uint32_t pass,
                int32_t& status) {
    for (const FailRule& rule : scenario.fails) {
        if (rule.function != function || (rule.gpu >= 0 && rule.gpu != gpu) ||
            (rule.selector >= 0 && rule.selector != selector) || pass < rule.from || pass > rule.until)
            continue;
        if (rule.hasStatus)
            status = rule.status;
        else
            status = simFunctionInfo(function).nvml ? 999 : -1; // NVML_ERROR_UNKNOWN, NVAPI_ERROR
        return true;
    }
    return false;
}

uint32_t delayMs(const Scenario& scenario, SimFunction function, int gpu) {
    uint32_t total = 0;
    for (const DelayRule& rule : scenario.delays) {
        if (rule.function == function && (rule.gpu < 0 || rule.gpu == gpu))
            total = std::max(total, rule.ms);
    }
    return total;
}

namespace {
std::vector<int> order(const Scenario& scenario, int which) {
    std::vector<int> list;
    for (size_t i = 0; i < scenario.gpus.size(); ++i) {
        if (which == 2 || scenario.gpus[i].tcc == (which == 1))
            list.push_back(static_cast<int>(i));
    }
    return list;
}
} // namespace

std::vector<int> physicalGpuOrder(const Scenario& scenario) {
    return order(scenario, 0);
}
std::vector<int> tccGpuOrder(const Scenario& scenario) {
    return order(scenario, 1);
}
std::vector<int> nvmlGpuOrder(const Scenario& scenario) {
    std::vector<int> list = physicalGpuOrder(scenario);
    std::vector<int> tcc = tccGpuOrder(scenario);
    list.insert(list.end(), tcc.begin(), tcc.end());
    std::stable_sort(list.begin(), list.end(), [&](int a, int b) {
        return scenario.gpus[static_cast<size_t>(a)].bus < scenario.gpus[static_cast<size_t>(b)].bus;
    });
    return list;
}

std::string scenarioPathForWindows(const std::string& path) {
    if (path.empty() || path[0] != '/')
        return path;
    std::string windows = "Z:" + path;
    std::replace(windows.begin(), windows.end(), '/', '\\');
    return windows;
}
