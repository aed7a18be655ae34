// Looks up every NVML export the Agents bind in one NVML library: each must
// be there, except those listed as optional with the driver that brought them.
// Usage: nvml_exports_check LIBRARY   (exit 77 when the file is missing)
#include "gpu/nvml_calls.h"

#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <unistd.h>

namespace {

// The driver branch that brought the export, 0 where every driver has it.
int brought(const char* name) {
#define GAUGELINE_SINCE(field, newer, older, since, params)                                                  \
    if (std::strcmp(name, #newer) == 0 || std::strcmp(name, #older) == 0)                                    \
        return since;
    GAUGELINE_NVML_CALLS(GAUGELINE_SINCE)
#undef GAUGELINE_SINCE
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: nvml_exports_check LIBRARY\n");
        return 2;
    }
    if (access(argv[1], R_OK) != 0) {
        std::printf("SKIP: %s is missing: scripts/setup fetches NVIDIA's packages\n", argv[1]);
        return 77;
    }
    void* library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        std::printf("cannot load %s: %s\n", argv[1], dlerror());
        return 1;
    }
    const char* names[] = {
#define GAUGELINE_NAMES(field, newer, older, since, params) #newer, #older,
        GAUGELINE_NVML_CALLS(GAUGELINE_NAMES)
#undef GAUGELINE_NAMES
            "nvmlErrorString",
    };
    int missing = 0;
    for (const char*& name : names) {
        bool again = false;
        for (const char** earlier = names; earlier != &name; ++earlier)
            again = again || std::strcmp(*earlier, name) == 0;
        if (again || dlsym(library, name))
            continue;
        if (int branch = brought(name)) {
            std::printf("%s: missing, optional (driver %d and later)\n", name, branch);
            continue;
        }
        std::printf("%s: not exported by %s, and not listed as optional\n", name, argv[1]);
        ++missing;
    }
    std::printf("%zu exports looked up, %d missing that must be there\n", sizeof names / sizeof names[0],
                missing);
    return missing == 0 ? 0 : 1;
}
