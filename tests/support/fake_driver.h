// A scripted driver behind a DriverTable, for the sampler and start-up tests.
// One instance at a time (the table's plain function pointers reach it through
// a global); each test sets it up afresh with resetFakeDriver().
#pragma once
#include "agent/windows/driver_table.h"

#include <cstdint>
#include <set>
#include <string>
#include <vector>

struct FakeClockEntry {
    uint32_t domain;
    uint32_t type; // 0 single, 1 range
    uint32_t freq; // single frequency, or the lower end of a range
    uint32_t maxFreq;
};

struct FakeGpu {
    std::string name = "Example GPU";
    bool tcc = false;
    NvAPI_Status nameStatus = NVAPI_OK;
    NvAPI_Status busStatus = NVAPI_OK;
    uint32_t busId = 1;

    // Clock queries by type (current, base, boost); domain frequencies in kHz.
    NvAPI_Status clockStatus[3] = {NVAPI_OK, NVAPI_OK, NVAPI_OK};
    uint32_t clocks[3][4] = {
        {1733000, 5005000, 0, 1620000}, {1607000, 5005000, 0, 1506000}, {1911000, 5005000, 0, 0}};
    bool processorPresent = false;
    bool videoPresent = true;

    NvAPI_Status pstatesStatus = NVAPI_OK;
    // The first P-state's clock entries, all counted, the table's eight written.
    std::vector<FakeClockEntry> pstateClocks;
    uint32_t baseVoltage = 1062500;

    NvAPI_Status frameBufferStatus = NVAPI_OK;
    uint32_t frameBufferKb = 8388608;
    NvAPI_Status memoryInfoStatus = NVAPI_OK;
    uint32_t dedicatedKb = 8388608;
    uint32_t curAvailableKb = 7185152;

    NvAPI_Status thermalStatus = NVAPI_OK;
    int32_t temperature = 54;
    NvAPI_Status pstateStatus = NVAPI_OK;
    uint32_t pstate = 0;
    // The three utilisation calls of a slot, in order.
    NvAPI_Status dynamicStatus[3] = {NVAPI_OK, NVAPI_OK, NVAPI_OK};
    uint32_t utilisation[4] = {37, 21, 14, 3};

    NvAPI_Status coolerStatus = NVAPI_OK;
    uint32_t coolerCount = 1;
    uint32_t fanLevel = 33;
    uint32_t fanRpm = 1125;
    uint8_t rpmValid = 1;
    NvAPI_Status voltageStatus = NVAPI_OK;
    uint32_t voltage = 1043000;

    NvAPI_Status displayStatus = NVAPI_OK; // one display, asked for by count first
    int32_t connector = 7;
    bool alternateConnector = false; // DP and HDMI on alternate calls
    int displayCalls = 0;

    NvAPI_Status usageStatus = NVAPI_OK; // GPU usage query
    uint32_t gpuUsage = 37;

    // Record versions this GPU rejects (the probing tests).
    std::set<uint32_t> rejected;

    // NVML, for the device whose index is this GPU's position.
    uint32_t nvmlBus = 1;
    nvmlReturn_t nvmlMemoryStatus = NVML_SUCCESS;
    nvmlMemory_t nvmlMemory{16ull << 30, 0, (3ull << 30) + 1023}; // total, free, used
    nvmlReturn_t nvmlPowerStatus = NVML_SUCCESS;
    uint32_t nvmlPower = 65432;
    nvmlReturn_t nvmlLimitStatus = NVML_SUCCESS;
    uint32_t nvmlLimit = 180000;
    nvmlReturn_t nvmlEnforcedLimitStatus = NVML_SUCCESS;
    uint32_t nvmlEnforcedLimit = 170000;
    nvmlReturn_t nvmlPciStatus = NVML_SUCCESS;
    nvmlReturn_t nvmlDriverModelStatus = NVML_SUCCESS;
    nvmlDriverModel_t nvmlDriverModel = NVML_DRIVER_WDDM;
};

struct FakeDriver {
    std::vector<FakeGpu> gpus; // physical GPUs first, then TCC GPUs, as the driver lists them
    NvAPI_Status initializeStatus = NVAPI_OK;
    NvAPI_Status enumStatus = NVAPI_OK;
    NvAPI_Status tccStatus = NVAPI_OK;
    std::set<uint32_t> directMissing; // ids the direct lookup does not answer
    bool nvmlLoads = true;
    std::set<std::string> nvmlMissing; // export names
    nvmlReturn_t nvmlInitStatus = NVML_SUCCESS;

    // What the driver saw.
    int nvmlInitCalls = 0;
    int dynamicCalls = 0; // utilisation calls of all slots
    std::vector<int> sleepMs;
    std::vector<uint32_t> triedVersions;
};

extern FakeDriver gFake;

void resetFakeDriver();
// The table over gFake.
const DriverTable& fakeDriverTable();
