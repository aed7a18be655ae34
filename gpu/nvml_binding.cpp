#include "gpu/nvml_calls.h"

namespace {

template <typename Fn> Fn lookupAs(NvmlLookup lookup, void* library, const char* name) {
    return reinterpret_cast<Fn>(lookup(library, name));
}

} // namespace

void bindNvml(NvmlApi* api, NvmlLookup lookup, void* library, NvmlGeneration generation) {
    *api = NvmlApi{};
    bool newest = generation == NvmlGeneration::Newest;
#define GAUGELINE_BIND_NVML(field, newer, older, since, params)                                              \
    if (newest)                                                                                              \
        api->field = lookupAs<decltype(api->field)>(lookup, library, #newer);                                \
    if (!api->field)                                                                                         \
        api->field = lookupAs<decltype(api->field)>(lookup, library, #older);
    GAUGELINE_NVML_CALLS(GAUGELINE_BIND_NVML)
#undef GAUGELINE_BIND_NVML
    api->errorString = lookupAs<decltype(api->errorString)>(lookup, library, "nvmlErrorString");
    if (!newest)
        return;
    // A count from one generation with handles from the other can name a
    // different GPU for the same index.
    auto count = lookupAs<decltype(api->getCount)>(lookup, library, "nvmlDeviceGetCount_v2");
    auto handle = lookupAs<decltype(api->getHandleByIndex)>(lookup, library, "nvmlDeviceGetHandleByIndex_v2");
    if (!count || !handle) {
        api->getCount = lookupAs<decltype(api->getCount)>(lookup, library, "nvmlDeviceGetCount");
        api->getHandleByIndex =
            lookupAs<decltype(api->getHandleByIndex)>(lookup, library, "nvmlDeviceGetHandleByIndex");
    }
}
