#include "sim/scenario.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

TEST(SimScenario, GpusWithPropertiesAndReadingModels) {
    Scenario s = parseScenario("# two boards\n"
                               "gpu 1 tcc\n"
                               "gpu 1 name Example GPU  Compute 40  \n"
                               "gpu 0 name Example GPU A\r\n"
                               "gpu 0 bus 0x0A\n"
                               "gpu 0 connector HDMI\n"
                               "gpu 1 connector -2\n"
                               "gpu 0 displays 2\n"
                               "gpu 0 domains 0 4\n"
                               "gpu 0 accept clocks 0x10108\n"
                               "gpu 0 gpuLoad wave 10 90 20 5\n"
                               "gpu 0 temperature ramp 40 0.5 80\n"
                               "gpu 0 fanRpm 1234\n"
                               "gpu 0 powerDraw const 150000\n"
                               "gpu 1 drivermodel 1\n");
    EXPECT_TRUE(s.errors.empty()) << s.errors[0].line << ": " << s.errors[0].message;
    ASSERT_EQ(s.gpus.size(), 2u);
    const SimGpu& a = s.gpus[0];
    const SimGpu& b = s.gpus[1];
    EXPECT_EQ(a.name, "Example GPU A");
    EXPECT_EQ(b.name, "Example GPU  Compute 40");
    EXPECT_FALSE(a.tcc);
    EXPECT_TRUE(b.tcc);
    EXPECT_EQ(a.bus, 10u);
    EXPECT_EQ(b.bus, 2u); // default: index + 1
    EXPECT_EQ(a.connector, 4);
    EXPECT_EQ(b.connector, -2);
    EXPECT_EQ(a.displays, 2u);
    EXPECT_EQ(a.domainMask, (1u << 0) | (1u << 4));
    EXPECT_TRUE(gpuAcceptsVersion(a, kRecordClocks, 0x10108));
    EXPECT_FALSE(gpuAcceptsVersion(a, kRecordClocks, 0x30108));
    EXPECT_TRUE(gpuAcceptsVersion(b, kRecordClocks, 0x30108));
    EXPECT_EQ(readingValue(a.readings[kFanRpm], 99, 0, UINT32_MAX), 1234);
    EXPECT_EQ(readingValue(a.readings[kPowerDraw], 0, 0, UINT32_MAX), 150000);
    EXPECT_EQ(readingValue(a.readings[kTemperature], 10, 0, 200), 45);
    EXPECT_EQ(readingValue(a.readings[kTemperature], 1000, 0, 200), 80); // held at the limit
    // The wave starts low at its phase, peaks half a period later.
    EXPECT_EQ(readingValue(a.readings[kGpuLoad], 5, 0, 100), 10);
    EXPECT_EQ(readingValue(a.readings[kGpuLoad], 15, 0, 100), 90);
    EXPECT_EQ(readingValue(a.readings[kGpuLoad], 10, 0, 100), 50);
    EXPECT_EQ(gpuDriverModel(a), 0);
    EXPECT_EQ(gpuDriverModel(b), 1);
    EXPECT_EQ(physicalGpuOrder(s), std::vector<int>{0});
    EXPECT_EQ(tccGpuOrder(s), std::vector<int>{1});
    EXPECT_EQ(nvmlGpuOrder(s), (std::vector<int>{1, 0})); // by bus, as NVML numbers them
}

TEST(SimScenario, FailDelayOmitHooksAndTime) {
    Scenario s = parseScenario("fail NvAPI_GPU_GetFullName\n"
                               "fail GetAllClockFrequencies gpu 1 type 2 status -104\n"
                               "fail 0xE3640A56 from 3 until 4\n"
                               "fail nvmlDeviceGetPowerUsage from 2\n"
                               "delay NvAPI_Unload 1500\n"
                               "omit nvmlDeviceGetDriverModel 0x189A1FDF\n"
                               "hooks entry\n"
                               "time 12.5\n");
    ASSERT_TRUE(s.errors.empty()) << s.errors[0].line << ": " << s.errors[0].message;
    int32_t status = 0;
    EXPECT_TRUE(failStatus(s, kSimGetFullName, 0, -1, 1, status));
    EXPECT_EQ(status, -1);
    EXPECT_FALSE(failStatus(s, kSimGetAllClockFrequencies, 0, 2, 1, status));
    EXPECT_FALSE(failStatus(s, kSimGetAllClockFrequencies, 1, 0, 1, status));
    EXPECT_TRUE(failStatus(s, kSimGetAllClockFrequencies, 1, 2, 7, status));
    EXPECT_EQ(status, -104);
    const bool thermal[] = {false, false, true, true, false};
    for (uint32_t pass = 1; pass <= 5; ++pass)
        EXPECT_EQ(failStatus(s, kSimGetThermalSettings, 0, 0, pass, status), thermal[pass - 1]) << pass;
    EXPECT_FALSE(failStatus(s, kSimNvmlDeviceGetPowerUsage, 0, -1, 1, status));
    EXPECT_TRUE(failStatus(s, kSimNvmlDeviceGetPowerUsage, 0, -1, 2, status));
    EXPECT_EQ(status, 999);
    EXPECT_EQ(delayMs(s, kSimNvapiUnload, -1), 1500u);
    EXPECT_EQ(delayMs(s, kSimNvapiInitialize, -1), 0u);
    EXPECT_TRUE(s.omitted[kSimNvmlDeviceGetDriverModel]);
    EXPECT_TRUE(s.omitted[kSimGpuUsageQuery]);
    EXPECT_FALSE(s.omitted[kSimNvmlDeviceGetDriverModelV2]);
    EXPECT_TRUE(s.entryHook);
    EXPECT_FALSE(s.exitHook);
    EXPECT_TRUE(s.fixedTime);
    EXPECT_DOUBLE_EQ(s.fixedSeconds, 12.5);
    ASSERT_EQ(s.gpus.size(), 1u); // a file without gpu lines has the default GPU
    EXPECT_EQ(s.gpus[0].name, "Example GPU");
    EXPECT_TRUE(parseScenario("nogpus\n").gpus.empty());
    Scenario both = parseScenario("nogpus\ngpu 0 tcc\n");
    EXPECT_TRUE(both.gpus.empty());
    EXPECT_EQ(both.errors.size(), 1u);
}

// Every bad line is skipped whole, reported with its number, and leaves the rest.
TEST(SimScenario, MalformedLinesAreSkippedAndReported) {
    const char* bad[] = {
        "bogus",
        "gpu",
        "gpu 0",
        "gpu 64 tcc",
        "gpu -1 tcc",
        "gpu x name A",
        "gpu 0 name",
        "gpu 0 bus 256",
        "gpu 0 bus -1",
        "gpu 0 bus 1 2",
        "gpu 0 connector PLUG",
        "gpu 0 displays 99",
        "gpu 0 drivermodel 3",
        "gpu 0 pstates 0",
        "gpu 0 pstates 17",
        "gpu 0 domains 0 5",
        "gpu 0 accept",
        "gpu 0 accept widgets 1",
        "gpu 0 accept clocks zz",
        "gpu 0 gpuLoad",
        "gpu 0 gpuLoad wave 1 2",
        "gpu 0 gpuLoad wave 1 2 0",
        "gpu 0 gpuLoad wave 1 2 -3",
        "gpu 0 gpuLoad ramp 1",
        "gpu 0 gpuLoad const",
        "gpu 0 gpuLoad 1 2",
        "gpu 0 gpuLoad nan",
        "gpu 0 gpuLoad inf",
        "gpu 0 gpuLoad 1e400",
        "gpu 0 gpuLoad 12abc",
        "gpu 0 warpDrive 9",
        "gpu 0 tcc 1",
        "hooks",
        "hooks some",
        "omit",
        "omit NvAPI_Nothing",
        "fail",
        "fail Nothing",
        "fail GetFullName gpu",
        "fail GetFullName gpu 99",
        "fail GetFullName from 0",
        "fail GetFullName from 5 until 2",
        "fail GetFullName status x",
        "fail GetFullName sometimes 3",
        "fail 0x12345678",
        "fail 0xZZ",
        "delay GetFullName",
        "delay GetFullName -5",
        "delay GetFullName 60001",
        "delay GetFullName 5 from 2",
        "time",
        "time -1",
        "time soon",
        "nogpus 2",
    };
    std::string text = "gpu 0 name Kept\n";
    for (const char* line : bad)
        text += std::string(line) + "\n";
    text += "gpu 0 bus 9\n";
    Scenario s = parseScenario(text);
    ASSERT_EQ(s.errors.size(), std::size(bad));
    for (size_t i = 0; i < std::size(bad); ++i)
        EXPECT_EQ(s.errors[i].line, static_cast<int>(i) + 2) << bad[i];
    ASSERT_EQ(s.gpus.size(), 1u);
    EXPECT_EQ(s.gpus[0].name, "Kept");
    EXPECT_EQ(s.gpus[0].bus, 9u);
    EXPECT_FALSE(s.gpus[0].tcc);
    EXPECT_EQ(s.gpus[0].domainMask, defaultSimGpu(0).domainMask);
    EXPECT_TRUE(s.fails.empty());
    EXPECT_TRUE(s.delays.empty());
    EXPECT_FALSE(s.fixedTime);
    EXPECT_TRUE(s.entryHook && s.exitHook);
    for (bool omitted : s.omitted)
        EXPECT_FALSE(omitted);
}

TEST(SimScenario, LongNamesAreCutToTheDriverBuffer) {
    std::string name(200, 'N');
    Scenario s = parseScenario("gpu 0 name " + name + "\n");
    ASSERT_EQ(s.gpus.size(), 1u);
    EXPECT_EQ(s.gpus[0].name.size(), static_cast<size_t>(kSimNameMax));
}

// Random bytes never crash the parser, and whatever it keeps stays in range.
TEST(SimScenario, RandomTextNeverBreaksTheParser) {
    std::mt19937 random(12345);
    const std::string alphabet =
        "gpu 0123456789 name tcc bus wave ramp const fail delay omit hooks time -.x\n\r\t#";
    for (int round = 0; round < 2000; ++round) {
        std::string text;
        int length = static_cast<int>(random() % 200);
        for (int i = 0; i < length; ++i)
            text +=
                random() % 8 == 0 ? static_cast<char>(random() % 256) : alphabet[random() % alphabet.size()];
        Scenario s = parseScenario(text);
        EXPECT_LE(s.gpus.size(), static_cast<size_t>(kSimMaxGpus));
        for (const SimGpu& gpu : s.gpus) {
            EXPECT_LE(gpu.name.size(), static_cast<size_t>(kSimNameMax));
            for (const ReadingModel& m : gpu.readings)
                EXPECT_TRUE(std::isfinite(evaluateReading(m, 1234.5)));
        }
    }
}

TEST(SimScenario, FunctionNamesAndIds) {
    struct Case {
        const char* token;
        int function;
    };
    const Case cases[] = {
        {"NvAPI_GPU_GetFullName", kSimGetFullName},
        {"getfullname", kSimGetFullName},
        {"GPU_GetFullName", kSimGetFullName},
        {"0xCEEE8E9F", kSimGetFullName},
        {"0xceee8e9f", kSimGetFullName},
        {"Initialize", kSimNvapiInitialize},
        {"0x189A1FDF", kSimGpuUsageQuery},
        {"QueryCoolerStatus", kSimQueryCoolerStatus},
        {"nvmlDeviceGetPciInfo_v3", kSimNvmlDeviceGetPciInfoV3},
        {"nvapi_QueryInterface", kSimQueryInterfaceExport},
        {"0x0", -1},
        {"0x12345678", -1},
        {"", -1},
        {"nvml", -1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(findSimFunction(c.token), c.function) << c.token;
    for (int f = 0; f < kSimFunctionCount; ++f) {
        EXPECT_EQ(findSimFunction(kSimFunctions[f].name), f) << kSimFunctions[f].name;
        if (kSimFunctions[f].id != 0) {
            EXPECT_EQ(findSimFunctionById(kSimFunctions[f].id), f);
        }
    }
}

TEST(SimScenario, ReadingValuesClampAndRound) {
    ReadingModel ramp;
    ramp.kind = ReadingKind::Ramp;
    ramp.a = 10;
    ramp.b = -3;
    EXPECT_EQ(readingValue(ramp, 2, 0, 100), 4);
    EXPECT_EQ(readingValue(ramp, 10, 0, 100), 0); // clamped at the low end
    ramp.hasLimit = true;
    ramp.c = 5;
    EXPECT_EQ(readingValue(ramp, 10, 0, 100), 5); // a falling ramp stops at its limit
    ReadingModel big;
    big.a = 1e14;
    EXPECT_EQ(readingValue(big, 0, 0, UINT32_MAX), static_cast<int64_t>(UINT32_MAX));
    big.a = 2.5;
    EXPECT_EQ(readingValue(big, 0, 0, 10), 3);
}

TEST(SimScenario, ScenarioPathsForWindows) {
    EXPECT_EQ(scenarioPathForWindows("/tmp/a/b.scenario"), "Z:\\tmp\\a\\b.scenario");
    EXPECT_EQ(scenarioPathForWindows("C:\\x\\y.scenario"), "C:\\x\\y.scenario");
    EXPECT_EQ(scenarioPathForWindows(""), "");
}

TEST(SimScenario, DefaultsAnswerEveryRecordVersionTheAgentTries) {
    Scenario s = defaultScenario();
    ASSERT_EQ(s.gpus.size(), 1u);
    const uint32_t tried[][2] = {
        {kRecordClocks, 0x30108},     {kRecordPstates, 0x31CF8}, {kRecordThermal, 0x20044},
        {kRecordMemory, 0x20018},     {kRecordCooler, 0x40558},  {kRecordDynamic, 0x10048},
        {kRecordDisplayIds, 0x10010}, {kRecordVoltage, 0x1008C}, {kRecordUsage, 0x10088}};
    for (const auto& t : tried)
        EXPECT_TRUE(gpuAcceptsVersion(s.gpus[0], static_cast<int>(t[0]), t[1])) << kSimRecordNames[t[0]];
    EXPECT_FALSE(gpuAcceptsVersion(s.gpus[0], kRecordClocks, 0x40108));
}

#include <fstream>
#include <sstream>

// The demo scenario: understood whole, and its readings move as a real board's do.
TEST(SimScenario, RigScenarioIsPlausible) {
    std::string path = GAUGELINE_SIM_SCENARIOS "/rig.scenario";
#ifdef _WIN32
    path = scenarioPathForWindows(path); // the source tree as Wine shows it
#endif
    std::ifstream file(path);
    ASSERT_TRUE(file.good());
    std::stringstream text;
    text << file.rdbuf();
    Scenario s = parseScenario(text.str());
    ASSERT_TRUE(s.errors.empty()) << s.errors[0].line << ": " << s.errors[0].message;
    ASSERT_EQ(s.gpus.size(), 2u);
    EXPECT_EQ(s.gpus[0].connector, 7);
    EXPECT_EQ(s.gpus[1].connector, 4);
    EXPECT_NE(s.gpus[0].name, s.gpus[1].name);
    for (const SimGpu& gpu : s.gpus) {
        double loadPeak = 0, tempPeak = 0, loadAt = 0, tempAt = 0;
        for (double t = 0; t < 200; t += 0.5) {
            double load = evaluateReading(gpu.readings[kGpuLoad], t);
            double temp = evaluateReading(gpu.readings[kTemperature], t);
            EXPECT_GE(load, 0);
            EXPECT_LE(load, 100);
            EXPECT_LE(evaluateReading(gpu.readings[kPowerDraw], t),
                      evaluateReading(gpu.readings[kPowerLimit], t));
            EXPECT_LE(evaluateReading(gpu.readings[kMemoryUsed], t),
                      evaluateReading(gpu.readings[kMemoryTotal], t));
            EXPECT_LE(evaluateReading(gpu.readings[kGraphicsClock], t),
                      evaluateReading(gpu.readings[kGraphicsClockBoost], t) * 1.1);
            if (t < 60 && load > loadPeak) {
                loadPeak = load;
                loadAt = t;
            }
            if (t < 60 && temp > tempPeak) {
                tempPeak = temp;
                tempAt = t;
            }
        }
        // Clocks and power peak with the load; the temperature a few seconds later.
        double clockAtLoadPeak = evaluateReading(gpu.readings[kGraphicsClock], loadAt);
        EXPECT_GT(clockAtLoadPeak, evaluateReading(gpu.readings[kGraphicsClock], loadAt + 10));
        EXPECT_GT(tempAt, loadAt) << gpu.name;
        EXPECT_LT(tempAt - loadAt, 15) << gpu.name;
    }
}
