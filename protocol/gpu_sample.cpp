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

using FieldGet = uint32_t (*)(const GpuSample&);
using FieldSet = void (*)(GpuSample*, uint32_t);

const FieldGet kFieldGets[] = {
#define GAUGELINE_FIELD_GET(name, kind, conv)                                                                \
    [](const GpuSample& s) { return static_cast<uint32_t>(s.name); },
    GAUGELINE_SAMPLE_FIELDS(GAUGELINE_FIELD_GET)
#undef GAUGELINE_FIELD_GET
};

const FieldSet kFieldSets[] = {
#define GAUGELINE_FIELD_SET(name, kind, conv)                                                                \
    [](GpuSample* s, uint32_t bits) { s->name = static_cast<GAUGELINE_WIRE_TYPE_##kind>(bits); },
    GAUGELINE_SAMPLE_FIELDS(GAUGELINE_FIELD_SET)
#undef GAUGELINE_FIELD_SET
};

bool isField(int k) {
    return k >= 0 && k < kSampleFieldCount;
}

} // namespace

uint32_t sampleFieldBits(const GpuSample& sample, int k) {
    return isField(k) ? kFieldGets[k](sample) : 0;
}

void setSampleFieldBits(GpuSample* sample, int k, uint32_t bits) {
    if (isField(k))
        kFieldSets[k](sample, bits);
}
