// The simulated driver DLLs as the Agent meets them: installed in the prefix's
// system directory and NVSMI folder, driven by a scenario named before loading.
#include "gpu/driver_records.h"
#include "tests/support/sim_test_support_win.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

using namespace simtest;

namespace {
const wchar_t kNvmlPath[] = L"C:\\Program Files\\NVIDIA Corporation\\NVSMI\\nvml.dll";

class SimDriverTest : public ::testing::Test {
  protected:
    void TearDown() override {
        for (HMODULE m : loaded)
            FreeLibrary(m);
        clearScenario();
    }
    HMODULE load(const wchar_t* path) {
        HMODULE m = LoadLibraryW(path);
        if (m)
            loaded.push_back(m);
        return m;
    }
    template <typename Fn> Fn get(HMODULE m, const char* name) {
        return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(m, name)));
    }
    std::vector<HMODULE> loaded;
};

// Fills a buffer with a marker so that writes past a record's size show.
template <typename T> void mark(T& record, uint32_t version) {
    std::memset(&record, 0xAB, sizeof record);
    std::memcpy(&record, &version, 4);
}
bool untouchedFrom(const void* record, size_t from, size_t to) {
    auto* bytes = static_cast<const uint8_t*>(record);
    for (size_t i = from; i < to; ++i) {
        if (bytes[i] != 0xAB)
            return false;
    }
    return true;
}
} // namespace

TEST_F(SimDriverTest, NvmlAnswersTheAgentsCalls) {
    useScenario("time 0\n"
                "gpu 0 bus 3\n"
                "gpu 0 memoryTotal 1000\n"
                "gpu 0 memoryUsed 250\n"
                "gpu 0 powerDraw 123456\n"
                "gpu 0 powerLimit 250000\n"
                "gpu 1 tcc\n"
                "gpu 1 bus 8\n"
                "fail nvmlDeviceGetPowerUsage from 3 status 3\n");
    HMODULE nvml = load(kNvmlPath);
    ASSERT_NE(nvml, nullptr);
    auto init = get<nvmlInitFn>(nvml, "nvmlInit");
    auto handle = get<nvmlDeviceGetHandleByIndexFn>(nvml, "nvmlDeviceGetHandleByIndex");
    auto handleV2 = get<nvmlDeviceGetHandleByIndexFn>(nvml, "nvmlDeviceGetHandleByIndex_v2");
    auto memory = get<nvmlDeviceGetMemoryInfoFn>(nvml, "nvmlDeviceGetMemoryInfo");
    auto power = get<nvmlDeviceGetUintFn>(nvml, "nvmlDeviceGetPowerUsage");
    auto limit = get<nvmlDeviceGetUintFn>(nvml, "nvmlDeviceGetPowerManagementLimit");
    auto pci = get<nvmlDeviceGetPciInfoFn>(nvml, "nvmlDeviceGetPciInfo");
    auto pciV3 = get<nvmlDeviceGetPciInfoFn>(nvml, "nvmlDeviceGetPciInfo_v3");
    auto model = get<nvmlDeviceGetDriverModelFn>(nvml, "nvmlDeviceGetDriverModel");
    ASSERT_TRUE(init && handle && handleV2 && memory && power && limit && pci && pciV3 && model);

    nvmlDevice_t device = nullptr;
    EXPECT_EQ(handle(0, &device), NVML_ERROR_UNINITIALIZED);
    ASSERT_EQ(init(), NVML_SUCCESS);
    ASSERT_EQ(handle(0, &device), NVML_SUCCESS);
    nvmlDevice_t tcc = nullptr;
    ASSERT_EQ(handleV2(1, &tcc), NVML_SUCCESS);
    nvmlDevice_t none = nullptr;
    EXPECT_EQ(handle(2, &none), NVML_ERROR_INVALID_ARGUMENT);
    EXPECT_EQ(none, nullptr);

    nvmlMemory_t mem{};
    ASSERT_EQ(memory(device, &mem), NVML_SUCCESS);
    EXPECT_EQ(mem.total, 1000u * 1024);
    EXPECT_EQ(mem.used, 250u * 1024);
    EXPECT_EQ(mem.free, 750u * 1024);

    uint32_t mw = 0;
    EXPECT_EQ(power(device, &mw), NVML_SUCCESS);
    EXPECT_EQ(mw, 123456u);
    EXPECT_EQ(power(device, &mw), NVML_SUCCESS);
    EXPECT_EQ(power(device, &mw), NVML_ERROR_NOT_SUPPORTED); // from the third pass on
    EXPECT_EQ(limit(device, &mw), NVML_SUCCESS);
    EXPECT_EQ(mw, 250000u);

    nvmlPciInfo_t info;
    mark(info, 0xABABABAB);
    ASSERT_EQ(pci(tcc, &info), NVML_SUCCESS);
    EXPECT_EQ(info.bus, 8u);
    EXPECT_TRUE(untouchedFrom(&info, kNvmlPciInfoV1Bytes, sizeof info)); // the old layout is 52 bytes
    ASSERT_EQ(pciV3(tcc, &info), NVML_SUCCESS);
    EXPECT_STREQ(info.busId, "00000000:08:00.0");
    EXPECT_STREQ(info.busIdLegacy, "0000:08:00.0");

    nvmlDriverModel_t current = -1, pending = -1;
    ASSERT_EQ(model(device, &current, &pending), NVML_SUCCESS);
    EXPECT_EQ(current, NVML_DRIVER_WDDM);
    ASSERT_EQ(model(tcc, &current, &pending), NVML_SUCCESS);
    EXPECT_EQ(current, NVML_DRIVER_WDM);
    EXPECT_EQ(model(reinterpret_cast<nvmlDevice_t>(&mw), &current, &pending), NVML_ERROR_INVALID_ARGUMENT);

    EXPECT_EQ(simCount(nvml, "nvmlDeviceGetPowerUsage"), 3u);
    EXPECT_EQ(simCount(nvml, "nvmlInit"), 1u);
}

TEST_F(SimDriverTest, OmittedExportsAreNotFound) {
    useScenario("omit nvmlDeviceGetDriverModel nvmlInit\n");
    HMODULE nvml = load(kNvmlPath);
    ASSERT_NE(nvml, nullptr);
    EXPECT_EQ(GetProcAddress(nvml, "nvmlDeviceGetDriverModel"), nullptr);
    EXPECT_EQ(GetProcAddress(nvml, "nvmlInit"), nullptr);
    EXPECT_NE(GetProcAddress(nvml, "nvmlDeviceGetDriverModel_v2"), nullptr);
    EXPECT_NE(GetProcAddress(nvml, "nvmlInit_v2"), nullptr);
    EXPECT_NE(GetProcAddress(nvml, "nvmlDeviceGetPowerUsage"), nullptr);
}

// The direct lookup the sampler makes, and record sizes honoured per version.
TEST_F(SimDriverTest, NvapiRecordsFollowTheirVersionWords) {
    useScenario("time 10\n"
                "gpu 0 domains 0 4\n"
                "gpu 0 accept clocks 0x20108 0x10108\n"
                "gpu 0 gpuLoad wave 10 90 20\n"
                "gpu 0 graphicsClock 1000000\n"
                "gpu 0 videoClockBase 1100000\n"
                "gpu 1 tcc\n"
                "gpu 1 memoryTotal 4096\n");
    HMODULE nvapi = LoadLibraryA("nvapi64.dll"); // the ordinary search, as the sampler loads it
    ASSERT_NE(nvapi, nullptr);
    loaded.push_back(nvapi);
    EXPECT_EQ(nvapi, GetModuleHandleW(systemNvapiPath().c_str()));
    auto query = get<NvAPI_QueryInterfaceFn>(nvapi, "nvapi_QueryInterface");
    ASSERT_NE(query, nullptr);
    EXPECT_NE(query(nvapi_id::NvAPI_Initialize), nullptr);
    EXPECT_EQ(query(0x12345678), nullptr);
    EXPECT_EQ(simCount(nvapi, "lookup:other"), 1u);
    auto enumerate = reinterpret_cast<NvAPI_EnumGpusFn>(query(nvapi_id::NvAPI_EnumPhysicalGPUs));
    auto enumerateTcc = reinterpret_cast<NvAPI_EnumGpusFn>(query(nvapi_id::NvAPI_EnumTCCPhysicalGPUs));
    auto usage = reinterpret_cast<NvAPI_GpuUsageFn>(query(nvapi_id::GpuUsageQuery));
    ASSERT_TRUE(enumerate && enumerateTcc && usage);
    NvPhysicalGpuHandle handles[NVAPI_MAX_PHYSICAL_GPUS] = {};
    uint32_t count = 0;
    ASSERT_EQ(enumerate(handles, &count), NVAPI_OK);
    ASSERT_EQ(count, 1u);
    ASSERT_EQ(enumerateTcc(handles + 1, &count), NVAPI_OK);
    ASSERT_EQ(count, 1u);
    NvPhysicalGpuHandle gpu = handles[0], tcc = handles[1];

    GpuUsageRecord use{};
    use.version = kGpuUsageVersion;
    ASSERT_EQ(usage(gpu, &use), NVAPI_OK);
    EXPECT_EQ(use.gpuUsage, 90u); // half a period into the wave: its top
    GpuUsageRecord untouched{};
    untouched.version = kGpuUsageVersion;
    EXPECT_NE(usage(nullptr, &untouched), NVAPI_OK); // a TCC slot's entry in the fresh list is null
    EXPECT_EQ(untouched.gpuUsage, 0u);

    using ClocksFn = NvAPI_Status(NVAPI_CALL*)(NvPhysicalGpuHandle, NV_GPU_CLOCK_FREQUENCIES*);
    auto clocksFn = reinterpret_cast<ClocksFn>(query(nvapi_id::NvAPI_GPU_GetAllClockFrequencies));
    NV_GPU_CLOCK_FREQUENCIES clocks{};
    clocks.version = NV_GPU_CLOCK_FREQUENCIES_VER_3;
    EXPECT_EQ(clocksFn(gpu, &clocks), NVAPI_INCOMPATIBLE_STRUCT_VERSION);
    clocks.version = NV_GPU_CLOCK_FREQUENCIES_VER_1;
    clocks.clockType = NV_GPU_CLOCK_FREQUENCIES_BOOST_CLOCK; // reserved in V1: current clocks
    ASSERT_EQ(clocksFn(gpu, &clocks), NVAPI_OK);
    EXPECT_EQ(clocks.domain[0].frequency, 1000000u);
    EXPECT_EQ(clocks.domain[0].bIsPresent & 1, 1u);
    EXPECT_EQ(clocks.domain[4].bIsPresent & 1, 1u);
    EXPECT_EQ(clocks.domain[7].bIsPresent, 0u);
    EXPECT_EQ(clocks.domain[8].bIsPresent, 0u);

    using PstatesFn = NvAPI_Status(NVAPI_CALL*)(NvPhysicalGpuHandle, NV_GPU_PERF_PSTATES20_INFO*);
    auto pstatesFn = reinterpret_cast<PstatesFn>(query(nvapi_id::NvAPI_GPU_GetPstates20));
    static NV_GPU_PERF_PSTATES20_INFO pstates;
    mark(pstates, NV_GPU_PERF_PSTATES20_INFO_VER1);
    ASSERT_EQ(pstatesFn(gpu, &pstates), NVAPI_OK);
    EXPECT_TRUE(untouchedFrom(&pstates, 7316, sizeof pstates)); // V1 is 7316 bytes
    EXPECT_EQ(pstates.numClocks, 2u);
    EXPECT_EQ(pstates.pstates[0].clocks[0].domainId, 0u);
    EXPECT_EQ(pstates.pstates[0].clocks[1].domainId, 4u);
    EXPECT_EQ(pstates.pstates[0].clocks[1].typeId, NVAPI_GPU_PERF_PSTATE20_CLOCK_TYPE_SINGLE);

    CoolerStatusRecord cooler;
    mark(cooler, 0x10098);
    using CoolerFn = NvAPI_Status(NVAPI_CALL*)(NvPhysicalGpuHandle, uint32_t, void*);
    auto coolerFn = reinterpret_cast<CoolerFn>(query(nvapi_id::QueryCoolerStatus));
    ASSERT_EQ(coolerFn(gpu, 0, &cooler), NVAPI_OK);
    EXPECT_EQ(cooler.coolerCount, 1u);
    EXPECT_TRUE(untouchedFrom(&cooler, 0x98, sizeof cooler)); // version 1 of the record is 152 bytes

    using MemoryFn = NvAPI_Status(NVAPI_CALL*)(NvPhysicalGpuHandle, NV_DISPLAY_DRIVER_MEMORY_INFO*);
    auto memoryFn = reinterpret_cast<MemoryFn>(query(nvapi_id::NvAPI_GPU_GetMemoryInfo));
    NV_DISPLAY_DRIVER_MEMORY_INFO memory;
    mark(memory, NV_DISPLAY_DRIVER_MEMORY_INFO_VER_1);
    ASSERT_EQ(memoryFn(gpu, &memory), NVAPI_OK);
    EXPECT_TRUE(untouchedFrom(&memory, 20, sizeof memory));
    mark(memory, NV_DISPLAY_DRIVER_MEMORY_INFO_VER_2);
    ASSERT_EQ(memoryFn(tcc, &memory), NVAPI_OK);
    EXPECT_EQ(memory.dedicatedVideoMemory, 4096u);
    EXPECT_EQ(memory.curAvailableDedicatedVideoMemory, 0u); // TCC: only the dedicated size

    using DisplaysFn =
        NvAPI_Status(NVAPI_CALL*)(NvPhysicalGpuHandle, NV_GPU_DISPLAYIDS*, uint32_t*, uint32_t);
    auto displaysFn = reinterpret_cast<DisplaysFn>(query(nvapi_id::NvAPI_GPU_GetConnectedDisplayIds));
    uint32_t displays = 0;
    EXPECT_EQ(displaysFn(tcc, nullptr, &displays, 0), NVAPI_INVALID_HANDLE);
    NV_GPU_DISPLAYIDS wrong{};
    wrong.version = 0x20010;
    displays = 1;
    EXPECT_EQ(displaysFn(gpu, &wrong, &displays, 0), NVAPI_INCOMPATIBLE_STRUCT_VERSION);
}

TEST_F(SimDriverTest, AnUnreadableScenarioFallsBackToTheDefaultGpu) {
    SetEnvironmentVariableW(L"GAUGELINE_SIM_SCENARIO", L"C:\\no\\such\\file.scenario");
    HMODULE nvapi = load(systemNvapiPath().c_str());
    ASSERT_NE(nvapi, nullptr);
    auto reload = get<int (*)()>(nvapi, "gaugelineSimReload");
    ASSERT_NE(reload, nullptr);
    EXPECT_EQ(reload(), -1);
    auto query = get<NvAPI_QueryInterfaceFn>(nvapi, "nvapi_QueryInterface");
    auto enumerate = reinterpret_cast<NvAPI_EnumGpusFn>(query(nvapi_id::NvAPI_EnumPhysicalGPUs));
    NvPhysicalGpuHandle handles[NVAPI_MAX_PHYSICAL_GPUS] = {};
    uint32_t count = 0;
    EXPECT_EQ(enumerate(handles, &count), NVAPI_OK);
    EXPECT_EQ(count, 1u);
    useScenario("nogpus\n");
    EXPECT_EQ(enumerate(handles, &count), NVAPI_NVIDIA_DEVICE_NOT_FOUND);
    EXPECT_EQ(count, 0u);
    useScenario("gpu 0 warp 9\ngpu 0 bus 4\n");
    EXPECT_EQ(reload(), 1); // one line not understood
}
