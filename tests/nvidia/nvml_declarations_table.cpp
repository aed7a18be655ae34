// Prints what our NVML declarations say as C++ static_asserts written in
// NVIDIA's names: record sizes, field offsets and sizes, constants, version
// words and the type of every function the Agents bind. nvml_header_check.cpp
// compiles them against NVIDIA's nvml.h, which cannot share a unit with ours.
// Functions listed as optional are newer than that header's API and are
// checked against the library's exports only, as are nvmlFanSpeedInfo_t and
// NVML_DRIVER_MCDM. With "exports": every export the Agents bind, one a line,
// with the driver branch that brought it (0 where every driver has it).
#include "gpu/driver_records.h"
#include "gpu/nvml_calls.h"

#include <cstdio>
#include <cstring>

namespace {

void function(const char* name, const char* params, int since) {
    if (since == 0)
        std::printf("static_assert(std::is_same_v<decltype(&%s), nvmlReturn_t(*)%s>, \"%s\");\n", name,
                    params, name);
}

} // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "exports") == 0) {
#define GAUGELINE_EXPORTS(field, newer, older, since, params)                                                \
    std::printf("%s %d\n%s %d\n", #newer, since, #older, since);
        GAUGELINE_NVML_CALLS(GAUGELINE_EXPORTS)
        std::printf("nvmlErrorString 0\n");
        return 0;
    }
#define SIZE(type)                                                                                           \
    std::printf("static_assert(sizeof(%s) == %zu, \"sizeof %s\");\n", #type, sizeof(type), #type);
#define FIELD(type, field)                                                                                   \
    std::printf("static_assert(offsetof(%s, %s) == %zu && sizeof(%s::%s) == %zu, \"%s.%s\");\n", #type,      \
                #field, offsetof(type, field), #type, #field, sizeof(type::field), #type, #field);
#define CONSTANT(name)                                                                                       \
    std::printf("static_assert(%s == %lld, \"%s\");\n", #name, static_cast<long long>(name), #name);
    SIZE(nvmlReturn_t)
    SIZE(nvmlDevice_t)
    SIZE(nvmlDriverModel_t)
    SIZE(nvmlClockType_t)
    SIZE(nvmlTemperatureSensors_t)
    SIZE(nvmlPstates_t)
    SIZE(nvmlMemory_t)
    FIELD(nvmlMemory_t, total)
    FIELD(nvmlMemory_t, free)
    FIELD(nvmlMemory_t, used)
    SIZE(nvmlMemory_v2_t)
    FIELD(nvmlMemory_v2_t, version)
    FIELD(nvmlMemory_v2_t, total)
    FIELD(nvmlMemory_v2_t, reserved)
    FIELD(nvmlMemory_v2_t, free)
    FIELD(nvmlMemory_v2_t, used)
    CONSTANT(nvmlMemory_v2)
    SIZE(nvmlPciInfo_t)
    FIELD(nvmlPciInfo_t, busIdLegacy)
    FIELD(nvmlPciInfo_t, domain)
    FIELD(nvmlPciInfo_t, bus)
    FIELD(nvmlPciInfo_t, device)
    FIELD(nvmlPciInfo_t, pciDeviceId)
    FIELD(nvmlPciInfo_t, pciSubSystemId)
    FIELD(nvmlPciInfo_t, busId)
    SIZE(nvmlUtilization_t)
    FIELD(nvmlUtilization_t, gpu)
    FIELD(nvmlUtilization_t, memory)
    CONSTANT(NVML_SUCCESS)
    CONSTANT(NVML_ERROR_UNINITIALIZED)
    CONSTANT(NVML_ERROR_INVALID_ARGUMENT)
    CONSTANT(NVML_ERROR_NOT_SUPPORTED)
    CONSTANT(NVML_ERROR_NO_PERMISSION)
    CONSTANT(NVML_ERROR_ALREADY_INITIALIZED)
    CONSTANT(NVML_ERROR_NOT_FOUND)
    CONSTANT(NVML_ERROR_INSUFFICIENT_SIZE)
    CONSTANT(NVML_ERROR_DRIVER_NOT_LOADED)
    CONSTANT(NVML_ERROR_TIMEOUT)
    CONSTANT(NVML_ERROR_LIBRARY_NOT_FOUND)
    CONSTANT(NVML_ERROR_FUNCTION_NOT_FOUND)
    CONSTANT(NVML_ERROR_GPU_IS_LOST)
    CONSTANT(NVML_ERROR_ARGUMENT_VERSION_MISMATCH)
    CONSTANT(NVML_ERROR_UNKNOWN)
    CONSTANT(NVML_DRIVER_WDDM)
    CONSTANT(NVML_DRIVER_WDM)
    CONSTANT(NVML_CLOCK_GRAPHICS)
    CONSTANT(NVML_CLOCK_SM)
    CONSTANT(NVML_CLOCK_MEM)
    CONSTANT(NVML_CLOCK_VIDEO)
    CONSTANT(NVML_TEMPERATURE_GPU)
    CONSTANT(NVML_PSTATE_UNKNOWN)
    CONSTANT(NVML_DEVICE_NAME_V2_BUFFER_SIZE)
#define GAUGELINE_FUNCTION(field, newer, older, since, params)                                               \
    function(#newer, #params, since);                                                                        \
    function(#older, #params, since);
    GAUGELINE_NVML_CALLS(GAUGELINE_FUNCTION)
    std::printf("static_assert(std::is_same_v<decltype(&nvmlErrorString), const char* (*)(nvmlReturn_t)>, "
                "\"nvmlErrorString\");\n");
    return 0;
}
