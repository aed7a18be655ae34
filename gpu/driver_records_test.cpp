#include "gpu/driver_records.h"

#include <gtest/gtest.h>

#include <cstring>

// Version words the callers pass, built from sizes as the driver checks them.
TEST(DriverRecords, VersionWordsMatchDriverConstants) {
    struct Case {
        uint32_t word;
        uint32_t expected;
    };
    const Case cases[] = {
        {NV_GPU_CLOCK_FREQUENCIES_VER_1, 0x10108},
        {NV_GPU_CLOCK_FREQUENCIES_VER_2, 0x20108},
        {NV_GPU_CLOCK_FREQUENCIES_VER_3, 0x30108},
        {NV_GPU_PERF_PSTATES20_INFO_VER1, 0x11C94},
        {NV_GPU_PERF_PSTATES20_INFO_VER2, 0x21CF8},
        {NV_GPU_PERF_PSTATES20_INFO_VER3, 0x31CF8},
        {NV_GPU_THERMAL_SETTINGS_VER_1, 0x10044},
        {NV_GPU_THERMAL_SETTINGS_VER_2, 0x20044},
        {NV_DISPLAY_DRIVER_MEMORY_INFO_VER_1, 0x10014},
        {NV_DISPLAY_DRIVER_MEMORY_INFO_VER_2, 0x20018},
        {NV_GPU_DYNAMIC_PSTATES_INFO_EX_VER, 0x10048},
        {NV_GPU_DISPLAYIDS_VER1, 0x10010},
        {NV_GPU_DISPLAYIDS_VER2, 0x30010},
        {kVoltageStatusVersion, 0x1008C},
        {kGpuUsageVersion, 0x10088},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.word, c.expected);
    for (uint32_t word : kCoolerStatusVersions)
        EXPECT_LE(nvapiVersionSize(word), kCoolerRecordBytes) << std::hex << word;
    EXPECT_EQ(nvapiVersionSize(0x31CF8), 7416u);
    EXPECT_EQ(nvapiVersionNumber(0x31CF8), 3u);
}

// The byte positions the sampler reads, checked through raw memory.
TEST(DriverRecords, FieldsLandOnDriverOffsets) {
    NV_GPU_PERF_PSTATES20_INFO info{};
    info.pstates[2].clocks[3].data.range.maxFreq_kHz = 0xA1B2C3D4;
    info.pstates[1].baseVoltages[2].volt_uV = 0x11223344;
    info.ov.numVoltages = 0x55667788;
    const auto* bytes = reinterpret_cast<const uint8_t*>(&info);
    uint32_t v;
    std::memcpy(&v, bytes + 56 + 456 * 2 + 44 * 3, 4);
    EXPECT_EQ(v, 0xA1B2C3D4u);
    std::memcpy(&v, bytes + 388 + 456 * 1 + 24 * 2, 4);
    EXPECT_EQ(v, 0x11223344u);
    std::memcpy(&v, bytes + 7316, 4);
    EXPECT_EQ(v, 0x55667788u);

    NV_GPU_CLOCK_FREQUENCIES clocks{};
    clocks.domain[NVAPI_GPU_PUBLIC_CLOCK_VIDEO].frequency = 1234;
    std::memcpy(&v, reinterpret_cast<const uint8_t*>(&clocks) + 76, 4);
    EXPECT_EQ(v, 1234u);

    CoolerStatusRecord cooler{};
    cooler.rpmValid = 1;
    EXPECT_EQ(reinterpret_cast<const uint8_t*>(&cooler)[60], 1);

    nvmlPciInfo_t pci{};
    pci.bus = 7;
    std::memcpy(&v, reinterpret_cast<const uint8_t*>(&pci) + 20, 4);
    EXPECT_EQ(v, 7u);
}
