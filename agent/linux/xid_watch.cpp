#include "agent/linux/xid_watch.h"

#include <chrono>

namespace {

void runXidWatch(AgentState& state, XidWatch& watch) {
    const NvmlApi& api = *watch.api;
    while (!watch.stop.load()) {
        nvmlEventData_t data = {};
        nvmlReturn_t r = api.eventSetWait(watch.set, &data, kXidWaitMs);
        if (r == NVML_SUCCESS && (data.eventType & nvmlEventTypeXidCriticalError)) {
            for (int slot = 0; slot < kGpuSlotCount; ++slot)
                if (watch.devices[slot] && watch.devices[slot] == data.device)
                    storeXid(state, slot, data.eventData);
        } else if (r != NVML_SUCCESS && r != NVML_ERROR_TIMEOUT) {
            // A lost GPU or a driver fault answers at once: do not spin on it.
            std::this_thread::sleep_for(std::chrono::milliseconds(kXidWaitMs));
        }
    }
}

} // namespace

bool startXidWatch(AgentState& state, XidWatch& watch, const NvmlApi& api,
                   const nvmlDevice_t devices[kGpuSlotCount]) {
    watch.api = &api;
    if (!api.eventSetCreate || !api.registerEvents || !api.eventSetWait || !api.eventSetFree ||
        api.eventSetCreate(&watch.set) != NVML_SUCCESS)
        return false;
    bool any = false;
    for (int slot = 0; slot < kGpuSlotCount; ++slot) {
        if (!devices[slot] ||
            api.registerEvents(devices[slot], nvmlEventTypeXidCriticalError, watch.set) != NVML_SUCCESS)
            continue;
        watch.devices[slot] = devices[slot];
        watchXids(state, slot);
        any = true;
    }
    if (!any) {
        api.eventSetFree(watch.set);
        watch.set = nullptr;
        return false;
    }
    watch.stop.store(false);
    watch.thread = std::thread([&state, &watch] { runXidWatch(state, watch); });
    return true;
}

void stopXidWatch(XidWatch& watch) {
    watch.stop.store(true);
    if (watch.thread.joinable())
        watch.thread.join();
    if (watch.set && watch.api && watch.api->eventSetFree)
        watch.api->eventSetFree(watch.set);
    watch.set = nullptr;
}
