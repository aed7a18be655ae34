#include "agent/core/gpu_health.h"

#include <algorithm>

const ClockEventReason kClockEventReasons[9] = {
    {nvmlClocksEventReasonGpuIdle, "gpu_idle"},
    {nvmlClocksEventReasonApplicationsClocksSetting, "applications_clocks"},
    {nvmlClocksEventReasonSwPowerCap, "sw_power_cap"},
    {nvmlClocksThrottleReasonHwSlowdown, "hw_slowdown"},
    {nvmlClocksEventReasonSyncBoost, "sync_boost"},
    {nvmlClocksEventReasonSwThermalSlowdown, "sw_thermal_slowdown"},
    {nvmlClocksThrottleReasonHwThermalSlowdown, "hw_thermal_slowdown"},
    {nvmlClocksThrottleReasonHwPowerBrakeSlowdown, "hw_power_brake_slowdown"},
    {nvmlClocksEventReasonDisplayClockSetting, "display_clocks"},
};

void countXid(XidCounts& counts, uint64_t xid) {
    for (int i = 0; i < counts.kinds; ++i) {
        if (counts.xid[i] == xid) {
            ++counts.count[i];
            return;
        }
    }
    if (counts.kinds == kXidKinds) {
        ++counts.others;
        return;
    }
    counts.xid[counts.kinds] = xid;
    counts.count[counts.kinds] = 1;
    ++counts.kinds;
}

GpuProcesses sumProcesses(const ProcessEntry* entries, int count) {
    std::vector<ProcessEntry> byPid;
    for (int i = 0; i < count; ++i) {
        auto same = std::find_if(byPid.begin(), byPid.end(),
                                 [&](const ProcessEntry& e) { return e.pid == entries[i].pid; });
        if (same == byPid.end())
            byPid.push_back(entries[i]);
        else
            same->bytes += entries[i].bytes;
    }
    std::stable_sort(byPid.begin(), byPid.end(),
                     [](const ProcessEntry& a, const ProcessEntry& b) { return a.bytes > b.bytes; });
    GpuProcesses out;
    out.read = true;
    for (const ProcessEntry& e : byPid) {
        if (out.count < kProcessesShown) {
            GpuProcess& p = out.list[out.count++];
            p.pid = e.pid;
            p.bytes = e.bytes;
            processName(e.pid, p.name, sizeof p.name);
        } else {
            ++out.others;
            out.otherBytes += e.bytes;
        }
    }
    return out;
}
