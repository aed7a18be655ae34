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

// The statements the native NVML adds: video engine loads, a lost GPU and a
// hang window. A line that does not parse leaves the GPU as it was.
TEST(SimScenario, NvmlGpuLines) {
    const struct {
        const char* line;
        bool ok;
        double t;         // time the GPU is asked at
        uint32_t encoder; // percent NVML reports
        uint32_t decoder; //
        bool lost;        // at t
        double wait;      // hang left at t
    } kRows[] = {
        {"gpu 0 gpuLoad 1", true, 0, 5, 0, false, 0}, // defaults: encoder = video engine load
        {"gpu 0 decoderLoad ramp 10 5", true, 2, 5, 20, false, 0},
        {"gpu 0 encoderLoad 0", true, 0, 0, 0, false, 0}, // given as 0: not the video engine load
        {"gpu 0 lost 5", true, 4.9, 5, 0, false, 0},
        {"gpu 0 lost 5", true, 5, 5, 0, true, 0},
        {"gpu 0 hang 2 3", true, 1.9, 5, 0, false, 0},
        {"gpu 0 hang 2 3", true, 2, 5, 0, false, 3},
        {"gpu 0 hang 2 3", true, 4.5, 5, 0, false, 0.5},
        {"gpu 0 lost -1", false, 9, 5, 0, false, 0},
        {"gpu 0 hang 2 0", false, 2, 5, 0, false, 0},
    };
    for (const auto& row : kRows) {
        SCOPED_TRACE(row.line);
        Scenario s = parseScenario(std::string("gpu 0 physical\n") + row.line + "\n");
        EXPECT_EQ(s.errors.empty(), row.ok);
        ASSERT_EQ(s.gpus.size(), 1u);
        const SimGpu& gpu = s.gpus[0];
        EXPECT_EQ(readingValue(encoderLoadModel(gpu), row.t, 0, 100), row.encoder);
        EXPECT_EQ(readingValue(modelOf(gpu, SimReading::DecoderLoad), row.t, 0, 100), row.decoder);
        EXPECT_EQ(gpuLostAt(gpu, row.t), row.lost);
        EXPECT_DOUBLE_EQ(gpuHangWait(gpu, row.t), row.wait);
    }
}
