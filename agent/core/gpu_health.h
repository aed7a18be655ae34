// What a fleet's alerts need of a GPU beyond the report's readings: who it is
// (UUID, PCI bus id), its energy counter, clock event reasons, encoder and
// decoder loads, ECC and Xid error counts. Served only on the metrics
// endpoint; the wire to the Console does not carry them. Both Agents read
// them through NVML with readGpuIdentity and readGpuHealth.
#pragma once
#include "gpu/nvml_calls.h"

#include <cstddef>
#include <cstdint>
#include <vector>

struct GpuIdentity {
    char uuid[NVML_DEVICE_UUID_V2_BUFFER_SIZE] = {}; // "" where the driver gave none
    char pciBusId[32] = {};                          // nvmlPciInfo_t::busId, "0000XXXX:BB:DD.F"
};

// One pass of the sampler; a reading whose call failed is not read.
struct GpuHealthReadings {
    bool energyRead = false;
    uint64_t energyMillijoules = 0; // since the driver loaded
    bool clockEventsRead = false;
    uint64_t clockEventsSupported = 0; // reason bits the driver reports for this GPU
    uint64_t clockEventsActive = 0;
    bool encoderRead = false;
    uint32_t encoderLoad = 0; // percent
    bool decoderRead = false;
    uint32_t decoderLoad = 0;
    bool eccRead = false; // only while ECC is on
    uint64_t eccCorrected = 0;
    uint64_t eccUncorrected = 0;
};

// Critical Xid events counted per Xid since the Agent started watching.
constexpr int kXidKinds = 16;
struct XidCounts {
    bool watched = false; // the GPU took the event registration
    int kinds = 0;
    uint64_t xid[kXidKinds] = {};
    uint64_t count[kXidKinds] = {};
    uint64_t others = 0; // events of Xids beyond the first kXidKinds seen
};
void countXid(XidCounts& counts, uint64_t xid);

// GPU memory per process, summed over its compute and graphics uses: the
// largest kProcessesShown, the rest together.
constexpr int kProcessesShown = 64;
struct GpuProcess {
    uint32_t pid = 0;
    uint64_t bytes = 0;
    char name[32] = {}; // "" where the system does not tell
};
struct GpuProcesses {
    bool read = false; // the driver listed them with their memory
    int count = 0;
    GpuProcess list[kProcessesShown];
    int others = 0; // processes beyond the list
    uint64_t otherBytes = 0;
};

struct GpuHealth {
    GpuIdentity identity;
    GpuHealthReadings readings;
    XidCounts xids;
    GpuProcesses processes;
};

// The processes' memory, by pid, from the driver's per-process entries; an
// entry whose memory the driver does not know is left out.
struct ProcessEntry {
    uint32_t pid;
    uint64_t bytes;
};
GpuProcesses sumProcesses(const ProcessEntry* entries, int count);

// The system's name of a running process (Linux: /proc/PID/comm; Windows: the
// image file's name), "" where it cannot tell.
void processName(uint32_t pid, char* name, size_t size);

// The clock event reasons the metrics name, in bit order.
struct ClockEventReason {
    uint64_t bit;
    const char* name;
};
extern const ClockEventReason kClockEventReasons[9];

// Each call goes through call(fn, args...), which returns the call's status
// (the Linux sampler's call keeps its lost and in-call bookkeeping).
template <typename Call>
void readGpuIdentity(const NvmlApi& api, nvmlDevice_t d, GpuIdentity& out, Call call) {
    out = GpuIdentity{};
    if (call(api.getUuid, d, out.uuid, static_cast<uint32_t>(sizeof out.uuid)) != NVML_SUCCESS)
        out.uuid[0] = '\0';
    out.uuid[sizeof out.uuid - 1] = '\0';
    // The current record's busId: the older entry point fills only the short
    // legacy form, which would not join with the other Agent's.
    nvmlPciInfo_t pci = {};
    if (call(api.getPciInfoV3, d, &pci) == NVML_SUCCESS) {
        for (size_t i = 0; i + 1 < sizeof out.pciBusId && pci.busId[i] != '\0'; ++i)
            out.pciBusId[i] = pci.busId[i];
    }
}

template <typename Call> GpuHealthReadings readGpuHealth(const NvmlApi& api, nvmlDevice_t d, Call call) {
    GpuHealthReadings h;
    unsigned long long value = 0, active = 0;
    if (call(api.getTotalEnergyConsumption, d, &value) == NVML_SUCCESS) {
        h.energyRead = true;
        h.energyMillijoules = value;
    }
    if (call(api.getSupportedClocksEventReasons, d, &value) == NVML_SUCCESS &&
        call(api.getCurrentClocksEventReasons, d, &active) == NVML_SUCCESS) {
        h.clockEventsRead = true;
        h.clockEventsSupported = value;
        h.clockEventsActive = active & value;
    }
    uint32_t period = 0;
    h.encoderRead = call(api.getEncoderUtilization, d, &h.encoderLoad, &period) == NVML_SUCCESS;
    h.decoderRead = call(api.getDecoderUtilization, d, &h.decoderLoad, &period) == NVML_SUCCESS;
    nvmlEnableState_t current = NVML_FEATURE_DISABLED, pending = NVML_FEATURE_DISABLED;
    unsigned long long corrected = 0, uncorrected = 0;
    if (call(api.getEccMode, d, &current, &pending) == NVML_SUCCESS && current == NVML_FEATURE_ENABLED &&
        call(api.getTotalEccErrors, d, NVML_MEMORY_ERROR_TYPE_CORRECTED, NVML_VOLATILE_ECC, &corrected) ==
            NVML_SUCCESS &&
        call(api.getTotalEccErrors, d, NVML_MEMORY_ERROR_TYPE_UNCORRECTED, NVML_VOLATILE_ECC, &uncorrected) ==
            NVML_SUCCESS) {
        h.eccRead = true;
        h.eccCorrected = corrected;
        h.eccUncorrected = uncorrected;
    }
    return h;
}

// The compute and graphics processes through the versioned detail list; not
// read where the driver lacks that call (the older lists' entries changed size
// within one driver branch without a version word, so they are not read).
template <typename Call> GpuProcesses readGpuProcesses(const NvmlApi& api, nvmlDevice_t d, Call call) {
    std::vector<ProcessEntry> entries;
    for (uint32_t mode : {NVML_PROCESS_MODE_COMPUTE, NVML_PROCESS_MODE_GRAPHICS}) {
        std::vector<nvmlProcessDetail_v1_t> details;
        nvmlProcessDetailList_v1_t list = {};
        nvmlReturn_t r = NVML_ERROR_INSUFFICIENT_SIZE;
        // The list can grow between the count and the read: ask again, a few times.
        for (int attempt = 0; attempt < 3 && r == NVML_ERROR_INSUFFICIENT_SIZE; ++attempt) {
            details.resize(list.numProcArrayEntries + 8);
            list = nvmlProcessDetailList_v1_t{nvmlProcessDetailList_v1, mode,
                                              static_cast<uint32_t>(details.size()), details.data()};
            r = call(api.getRunningProcessDetailList, d, &list);
        }
        if (r != NVML_SUCCESS)
            return GpuProcesses{};
        for (uint32_t i = 0; i < list.numProcArrayEntries && i < details.size(); ++i)
            if (details[i].usedGpuMemory != NVML_VALUE_NOT_AVAILABLE)
                entries.push_back(ProcessEntry{details[i].pid, details[i].usedGpuMemory});
    }
    return sumProcesses(entries.data(), static_cast<int>(entries.size()));
}

// A plain call: a missing export counts as a failed call.
struct PlainNvmlCall {
    template <typename Fn, typename... Args> nvmlReturn_t operator()(Fn fn, Args... args) const {
        return fn ? fn(args...) : NVML_ERROR_FUNCTION_NOT_FOUND;
    }
};
