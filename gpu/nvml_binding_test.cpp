// Which export each call is bound to, given the exports a library has.
#include "gpu/nvml_calls.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

// clang-format off
const std::vector<std::string> kAll = {
    "nvmlInit_v2", "nvmlInit", "nvmlDeviceGetCount_v2", "nvmlDeviceGetCount", "nvmlDeviceGetHandleByIndex_v2",
    "nvmlDeviceGetHandleByIndex", "nvmlDeviceGetMemoryInfo_v2", "nvmlDeviceGetMemoryInfo",
    "nvmlDeviceGetFanSpeedRPM", "nvmlDeviceGetPciInfo", "nvmlErrorString",
};
// clang-format on

std::vector<std::string> without(std::vector<std::string> gone) {
    std::vector<std::string> left;
    for (const std::string& n : kAll)
        if (std::find(gone.begin(), gone.end(), n) == gone.end())
            left.push_back(n);
    return left;
}

// The library is the list of its exports; an export's address is its entry.
void* lookup(void* library, const char* name) {
    for (std::string& n : *static_cast<std::vector<std::string>*>(library))
        if (n == name)
            return &n;
    return nullptr;
}

TEST(NvmlBind, NewerExportFirstAndCountWithHandlesOfOneGeneration) {
    const struct {
        NvmlGeneration generation;
        std::vector<std::string> exports;
        const char* init;
        const char* count;
        const char* handle;
        const char* memoryV2;
        const char* fanRpm;
    } rows[] = {
        {NvmlGeneration::Newest, kAll, "nvmlInit_v2", "nvmlDeviceGetCount_v2",
         "nvmlDeviceGetHandleByIndex_v2", "nvmlDeviceGetMemoryInfo_v2", "nvmlDeviceGetFanSpeedRPM"},
        {NvmlGeneration::Newest,
         without({"nvmlInit_v2", "nvmlDeviceGetCount_v2", "nvmlDeviceGetHandleByIndex_v2",
                  "nvmlDeviceGetMemoryInfo_v2", "nvmlDeviceGetFanSpeedRPM"}),
         "nvmlInit", "nvmlDeviceGetCount", "nvmlDeviceGetHandleByIndex", nullptr, nullptr},
        {NvmlGeneration::Newest, without({"nvmlDeviceGetHandleByIndex_v2"}), "nvmlInit_v2",
         "nvmlDeviceGetCount", "nvmlDeviceGetHandleByIndex", "nvmlDeviceGetMemoryInfo_v2",
         "nvmlDeviceGetFanSpeedRPM"},
        {NvmlGeneration::Newest, without({"nvmlDeviceGetCount_v2"}), "nvmlInit_v2", "nvmlDeviceGetCount",
         "nvmlDeviceGetHandleByIndex", "nvmlDeviceGetMemoryInfo_v2", "nvmlDeviceGetFanSpeedRPM"},
        // The Windows Agent asks for the names it has always asked for.
        {NvmlGeneration::Oldest, kAll, "nvmlInit", "nvmlDeviceGetCount", "nvmlDeviceGetHandleByIndex",
         "nvmlDeviceGetMemoryInfo_v2", "nvmlDeviceGetFanSpeedRPM"},
    };
    for (const auto& row : rows) {
        std::vector<std::string> library = row.exports;
        auto address = [&](const char* name) { return name ? lookup(&library, name) : nullptr; };
        NvmlApi api;
        bindNvml(&api, lookup, &library, row.generation);
        EXPECT_EQ(reinterpret_cast<void*>(api.init), address(row.init));
        EXPECT_EQ(reinterpret_cast<void*>(api.getCount), address(row.count)) << row.count;
        EXPECT_EQ(reinterpret_cast<void*>(api.getHandleByIndex), address(row.handle)) << row.handle;
        EXPECT_EQ(reinterpret_cast<void*>(api.getMemoryInfoV2), address(row.memoryV2));
        EXPECT_EQ(reinterpret_cast<void*>(api.getMemoryInfo), address("nvmlDeviceGetMemoryInfo"));
        EXPECT_EQ(reinterpret_cast<void*>(api.getFanSpeedRpm), address(row.fanRpm));
        EXPECT_EQ(reinterpret_cast<void*>(api.getPciInfo), address("nvmlDeviceGetPciInfo"));
        EXPECT_EQ(reinterpret_cast<void*>(api.errorString), address("nvmlErrorString"));
    }
}

} // namespace
