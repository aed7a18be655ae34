#include "sim/scenario.h"

#include <gtest/gtest.h>

// One file with every kind of line, one of them bad: what the simulated driver
// then answers.
TEST(SimScenario, Smoke) {
    Scenario s = parseScenario("# two boards\n"
                               "gpu 1 tcc\n"
                               "gpu 0 name Example GPU A\r\n"
                               "gpu 0 bus 0x0A\n"
                               "gpu 0 accept clocks 0x10108\n"
                               "gpu 0 gpuLoad wave 10 90 20 5\n"
                               "gpu 0 temperature ramp 40 0.5 80\n"
                               "gpu 0 warpDrive 9\n"
                               "fail GetAllClockFrequencies gpu 1 type 2 status -104\n"
                               "fail 0xE3640A56 from 3 until 4\n"
                               "delay NvAPI_Unload 1500\n"
                               "omit nvmlDeviceGetDriverModel\n"
                               "hooks entry\n");
    ASSERT_EQ(s.errors.size(), 1u);
    EXPECT_EQ(s.errors[0].line, 8);
    ASSERT_EQ(s.gpus.size(), 2u);
    const SimGpu& a = s.gpus[0];
    EXPECT_EQ(a.name, "Example GPU A");
    EXPECT_EQ(a.bus, 10u);
    EXPECT_TRUE(s.gpus[1].tcc);
    EXPECT_FALSE(gpuAcceptsVersion(a, SimRecord::Clocks, 0x30108));
    EXPECT_TRUE(gpuAcceptsVersion(s.gpus[1], SimRecord::Clocks, 0x30108));
    EXPECT_EQ(readingValue(modelOf(a, SimReading::GpuLoad), 15, 0, 100), 90);
    EXPECT_EQ(readingValue(modelOf(a, SimReading::Temperature), 1000, 0, 200), 80);
    EXPECT_EQ(nvmlGpuOrder(s), (std::vector<int>{1, 0})); // by bus, as NVML numbers them
    int32_t status = 0;
    EXPECT_FALSE(failStatus(s, SimFunction::GetAllClockFrequencies, 0, 2, 1, status));
    EXPECT_TRUE(failStatus(s, SimFunction::GetAllClockFrequencies, 1, 2, 1, status));
    EXPECT_EQ(status, -104);
    EXPECT_FALSE(failStatus(s, SimFunction::GetThermalSettings, 0, 0, 2, status));
    EXPECT_TRUE(failStatus(s, SimFunction::GetThermalSettings, 0, 0, 3, status));
    EXPECT_EQ(delayMs(s, SimFunction::Unload, -1), 1500u);
    EXPECT_TRUE(s.omitted[static_cast<int>(SimFunction::NvmlDeviceGetDriverModel)]);
    EXPECT_FALSE(s.exitHook);
}
