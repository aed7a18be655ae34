#include "sim/scenario.h"

#include <gtest/gtest.h>

// One file with most kinds of line, one of them bad: what the simulated driver
// then answers.
TEST(SimScenario, Smoke) {
    Scenario s = parseScenario("# two boards\n"
                               "gpu 1 tcc\n"
                               "gpu 0 name Example GPU A\r\n"
                               "gpu 0 bus 0x0A\n"
                               "gpu 0 accept clocks 0x10108\n"
                               "gpu 0 gpuLoad wave 10 90 20 5\n"
                               "gpu 0 warpDrive 9\n"
                               "fail GetAllClockFrequencies gpu 1 type 2 status -104\n"
                               "omit nvmlDeviceGetDriverModel\n");
    ASSERT_EQ(s.errors.size(), 1u);
    EXPECT_EQ(s.errors[0].line, 7);
    ASSERT_EQ(s.gpus.size(), 2u);
    EXPECT_EQ(s.gpus[0].name, "Example GPU A");
    EXPECT_FALSE(gpuAcceptsVersion(s.gpus[0], SimRecord::Clocks, 0x30108));
    EXPECT_EQ(readingValue(modelOf(s.gpus[0], SimReading::GpuLoad), 15, 0, 100), 90);
    EXPECT_EQ(nvmlGpuOrder(s), (std::vector<int>{1, 0})); // by bus, as NVML numbers them
    int32_t status = 0;
    EXPECT_FALSE(failStatus(s, SimFunction::GetAllClockFrequencies, 0, 2, 1, status));
    EXPECT_TRUE(failStatus(s, SimFunction::GetAllClockFrequencies, 1, 2, 1, status));
    EXPECT_EQ(status, -104);
    EXPECT_TRUE(s.omitted[static_cast<int>(SimFunction::NvmlDeviceGetDriverModel)]);
}
