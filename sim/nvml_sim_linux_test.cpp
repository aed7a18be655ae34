// The simulated libnvidia-ml.so.1 as the Linux Agent meets it: opened by path,
// every function looked up by name, the scenario named by the environment.
#include "gpu/nvml_source_calls.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

namespace {
void* gLibrary = nullptr;
NvmlSourceApi gApi;

template <typename Fn> Fn simExport(const char* name) {
    return reinterpret_cast<Fn>(dlsym(gLibrary, name));
}

// Names the scenario, opens the library once and reloads; true when the
// library, both names of every call and every scenario line were found.
bool open(const char* scenario) {
    std::string path = testing::TempDir() + "nvml_sim_linux.scenario";
    std::FILE* file = std::fopen(path.c_str(), "w");
    if (!file || std::fputs(scenario, file) < 0 || std::fclose(file) != 0)
        return false;
    setenv("GAUGELINE_SIM_SCENARIO", path.c_str(), 1);
    if (!gLibrary)
        gLibrary = dlopen(GAUGELINE_SIM_NVML_PATH, RTLD_NOW | RTLD_LOCAL);
    if (!gLibrary)
        return false;
    bool all = true;
#define GAUGELINE_TEST_LOOKUP(field, name, older, params)                                                    \
    gApi.field = simExport<decltype(gApi.field)>(#name);                                                     \
    all = all && gApi.field && dlsym(gLibrary, #older);
    GAUGELINE_NVML_SOURCE_CALLS(GAUGELINE_TEST_LOOKUP)
#undef GAUGELINE_TEST_LOOKUP
    simExport<void (*)()>("gaugelineSimResetCounts")();
    return all && simExport<int (*)()>("gaugelineSimReload")() == 0 && gApi.init() == NVML_SUCCESS;
}

nvmlDevice_t device(uint32_t index) {
    nvmlDevice_t device = nullptr;
    EXPECT_EQ(gApi.getHandleByIndex(index, &device), NVML_SUCCESS);
    return device;
}

using Call = nvmlReturn_t (*)(nvmlDevice_t, uint64_t&);
#define U32(call)                                                                                            \
    [](nvmlDevice_t d, uint64_t& v) {                                                                        \
        uint32_t x = 0, period = 0;                                                                          \
        nvmlReturn_t r = gApi.call;                                                                          \
        v = x + 0 * period;                                                                                  \
        return r;                                                                                            \
    }
// A record call; the fields after the type fill the record first.
#define RECORD(call, field, type, ...)                                                                       \
    [](nvmlDevice_t d, uint64_t& v) {                                                                        \
        type record{__VA_ARGS__};                                                                            \
        nvmlReturn_t r = gApi.call(d, &record);                                                              \
        v = record.field;                                                                                    \
        return r;                                                                                            \
    }
#define UTIL(field) RECORD(getUtilizationRates, field, nvmlUtilization_t)
#define MEM(field, version) RECORD(getMemoryInfoV2, field, nvmlMemory_v2_t, version, 1, 1, 1, 1)
#define FAN(version) RECORD(getFanSpeedRpm, speed, nvmlFanSpeedInfo_t, version, 0, 0)
} // namespace

// Readings in the wire's units, answered in NVML's; missing pieces and a lost GPU.
TEST(SimNvmlLinux, Readings) {
    ASSERT_TRUE(
        open("time 0\ngpu 0 name Example GPU 4080\ngpu 0 graphicsClock 1755999\n"
             "gpu 0 processorClock 3000500\ngpu 0 memoryClock 10501000\ngpu 0 videoClock 1650999\n"
             "gpu 0 graphicsClockBoost 2520000\ngpu 0 memoryClockBase 10000000\ngpu 0 gpuLoad 77\n"
             "gpu 0 memoryControllerLoad 33\ngpu 0 videoEngineLoad 12\ngpu 0 decoderLoad 9\n"
             "gpu 0 temperature 64\ngpu 0 powerDraw 123456\ngpu 0 powerLimit 320000\ngpu 0 fanLevel 55\n"
             "gpu 0 fanRpm 1730\ngpu 0 pstate 2\ngpu 0 memoryTotal 16777216\ngpu 0 memoryUsed 1048576\n"
             "gpu 1 domains 0 4 8\ngpu 1 coolers 0\ngpu 1 encoderLoad 40\ngpu 2 rpmflag 0\ngpu 3 lost 0\n"
             "fail nvmlDeviceGetDefaultApplicationsClock type 0 status 10\n"));
    const struct {
        const char* what;
        uint32_t gpu;
        Call call;
        nvmlReturn_t status;
        uint64_t value; // checked on success
    } kRows[] = {
        {"graphics clock", 0, U32(getClockInfo(d, NVML_CLOCK_GRAPHICS, &x)), NVML_SUCCESS, 1755},
        {"SM clock", 0, U32(getClockInfo(d, NVML_CLOCK_SM, &x)), NVML_SUCCESS, 3000},
        {"memory clock", 0, U32(getClockInfo(d, NVML_CLOCK_MEM, &x)), NVML_SUCCESS, 10501},
        {"video clock", 0, U32(getClockInfo(d, NVML_CLOCK_VIDEO, &x)), NVML_SUCCESS, 1650},
        {"boost graphics", 0, U32(getMaxClockInfo(d, NVML_CLOCK_GRAPHICS, &x)), NVML_SUCCESS, 2520},
        {"base memory", 0, U32(getDefaultApplicationsClock(d, NVML_CLOCK_MEM, &x)), NVML_SUCCESS, 10000},
        {"failing base graphics", 0, U32(getDefaultApplicationsClock(d, NVML_CLOCK_GRAPHICS, &x)),
         NVML_ERROR_TIMEOUT, 0},
        {"clock type 4", 0, U32(getClockInfo(d, 4, &x)), NVML_ERROR_INVALID_ARGUMENT, 0},
        {"SM clock, no domain 7", 1, U32(getClockInfo(d, NVML_CLOCK_SM, &x)), NVML_ERROR_NOT_SUPPORTED, 0},
        {"boost SM, no domain 7", 1, U32(getMaxClockInfo(d, NVML_CLOCK_SM, &x)), NVML_ERROR_NOT_SUPPORTED, 0},
        {"gpu load", 0, UTIL(gpu), NVML_SUCCESS, 77},
        {"memory load", 0, UTIL(memory), NVML_SUCCESS, 33},
        {"encoder from video engine", 0, U32(getEncoderUtilization(d, &x, &period)), NVML_SUCCESS, 12},
        {"encoder given", 1, U32(getEncoderUtilization(d, &x, &period)), NVML_SUCCESS, 40},
        {"encoder period", 0, U32(getEncoderUtilization(d, &period, &x)), NVML_SUCCESS, 1000000},
        {"decoder", 0, U32(getDecoderUtilization(d, &x, &period)), NVML_SUCCESS, 9},
        {"decoder default", 1, U32(getDecoderUtilization(d, &x, &period)), NVML_SUCCESS, 0},
        {"memory total", 0, MEM(total, nvmlMemory_v2), NVML_SUCCESS, 17179869184u},
        {"memory used", 0, MEM(used, nvmlMemory_v2), NVML_SUCCESS, 1073741824u},
        {"memory free", 0, MEM(free, nvmlMemory_v2), NVML_SUCCESS, 16106127360u},
        {"memory reserved", 0, MEM(reserved, nvmlMemory_v2), NVML_SUCCESS, 0},
        {"memory version 1", 0, MEM(total, 0x01000028), NVML_ERROR_ARGUMENT_VERSION_MISMATCH, 0},
        {"temperature", 0, U32(getTemperature(d, NVML_TEMPERATURE_GPU, &x)), NVML_SUCCESS, 64},
        {"sensor 1", 0, U32(getTemperature(d, 1, &x)), NVML_ERROR_INVALID_ARGUMENT, 0},
        {"power", 0, U32(getPowerUsage(d, &x)), NVML_SUCCESS, 123456},
        {"enforced limit", 0, U32(getEnforcedPowerLimit(d, &x)), NVML_SUCCESS, 320000},
        {"fan level", 0, U32(getFanSpeed(d, &x)), NVML_SUCCESS, 55},
        {"fan level, coolers 0", 1, U32(getFanSpeed(d, &x)), NVML_ERROR_NOT_SUPPORTED, 0},
        {"fan rpm", 0, FAN(nvmlFanSpeedInfo_v1), NVML_SUCCESS, 1730},
        {"fan rpm, coolers 0", 1, FAN(nvmlFanSpeedInfo_v1), NVML_ERROR_NOT_SUPPORTED, 0},
        {"fan rpm, rpmflag 0", 2, FAN(nvmlFanSpeedInfo_v1), NVML_ERROR_NOT_SUPPORTED, 0},
        {"fan rpm, version 0", 0, FAN(0), NVML_ERROR_ARGUMENT_VERSION_MISMATCH, 0},
        {"pstate", 0, U32(getPerformanceState(d, reinterpret_cast<nvmlPstates_t*>(&x))), NVML_SUCCESS, 2},
        {"lost", 3, U32(getTemperature(d, NVML_TEMPERATURE_GPU, &x)), NVML_ERROR_GPU_IS_LOST, 0},
    };
    for (const auto& row : kRows) {
        SCOPED_TRACE(row.what);
        uint64_t value = 0;
        ASSERT_EQ(row.call(device(row.gpu), value), row.status);
        if (row.status == NVML_SUCCESS) {
            EXPECT_EQ(value, row.value);
        }
    }
    uint32_t count = 0;
    EXPECT_EQ(gApi.getCount(&count), NVML_SUCCESS);
    EXPECT_EQ(count, 4u); // the lost GPU is still listed
    char name[NVML_DEVICE_NAME_V2_BUFFER_SIZE];
    EXPECT_EQ(gApi.getName(device(0), name, 16), NVML_ERROR_INSUFFICIENT_SIZE); // 16 bytes with the NUL
    ASSERT_EQ(gApi.getName(device(0), name, 17), NVML_SUCCESS);
    EXPECT_STREQ(name, "Example GPU 4080");
}

// While GPU 1's calls hang, GPU 0 answers at once.
TEST(SimNvmlLinux, HangHoldsOnlyItsGpu) {
    ASSERT_TRUE(open("time 0\ngpu 0 physical\ngpu 1 hang 0 3\n"));
    using Clock = std::chrono::steady_clock;
    auto seconds = [](Clock::time_point since) {
        return std::chrono::duration<double>(Clock::now() - since).count();
    };
    nvmlDevice_t hung = device(1), other = device(0);
    nvmlReturn_t hungStatus = -1;
    double hungSeconds = 0;
    std::thread caller([&] {
        Clock::time_point start = Clock::now();
        uint32_t celsius = 0;
        hungStatus = gApi.getTemperature(hung, NVML_TEMPERATURE_GPU, &celsius);
        hungSeconds = seconds(start);
    });
    auto calls = simExport<uint32_t (*)(const char*)>("gaugelineSimCallCount");
    for (Clock::time_point start = Clock::now();
         calls("nvmlDeviceGetTemperature") == 0 && seconds(start) < 10;)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    Clock::time_point start = Clock::now();
    uint32_t celsius = 0;
    EXPECT_EQ(gApi.getTemperature(other, NVML_TEMPERATURE_GPU, &celsius), NVML_SUCCESS);
    EXPECT_LT(seconds(start), 1.0);
    caller.join();
    EXPECT_EQ(hungStatus, NVML_SUCCESS);
    EXPECT_GE(hungSeconds, 2.5);
}
