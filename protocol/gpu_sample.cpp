#include "protocol/gpu_sample.h"

#include <cstring>
#include <cwchar>

const SampleFieldInfo kSampleFields[kSampleFieldCount] = {
#define GAUGELINE_FIELD_INFO(name, kind, conv) {#name, WireKind::kind, ConsoleConversion::conv},
    GAUGELINE_SAMPLE_FIELDS(GAUGELINE_FIELD_INFO)
#undef GAUGELINE_FIELD_INFO
};

void clearGpuSample(GpuSample* sample) {
    std::memset(sample, 0, sizeof *sample);
    std::wcscpy(sample->fullName, kEmptyGpuNameWide);
}

namespace {
template <typename T> uint32_t bitsOf(T v) {
    return static_cast<uint32_t>(v);
}
} // namespace

uint32_t sampleFieldBits(const GpuSample& sample, int k) {
    int index = 0;
#define GAUGELINE_FIELD_GET(name, kind, conv)                                                                \
    if (index++ == k)                                                                                        \
        return bitsOf(sample.name);
    GAUGELINE_SAMPLE_FIELDS(GAUGELINE_FIELD_GET)
#undef GAUGELINE_FIELD_GET
    return 0;
}

void setSampleFieldBits(GpuSample* sample, int k, uint32_t bits) {
    int index = 0;
#define GAUGELINE_FIELD_SET(name, kind, conv)                                                                \
    if (index++ == k) {                                                                                      \
        sample->name = static_cast<GAUGELINE_WIRE_TYPE_##kind>(bits);                                        \
        return;                                                                                              \
    }
    GAUGELINE_SAMPLE_FIELDS(GAUGELINE_FIELD_SET)
#undef GAUGELINE_FIELD_SET
}
