#include "agent/core/gpu_health.h"

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
