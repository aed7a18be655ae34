// One full sampling pass of the Linux Agent (every reading of every GPU,
// slot after slot), timed against the machine's NVML library: prints the
// median and the spread of N passes. scripts/real-gpu-check runs it; it needs
// nothing beyond the Agent's own code.
#include "agent/linux/nvml_source.h"
#include "gpu/nvml_library.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

int main(int argc, char** argv) {
    int passes = 20;
    if (argc == 3 && std::strcmp(argv[1], "--passes") == 0)
        passes = std::max(1, std::atoi(argv[2]));
    char error[256];
    void* library = openNvmlLibrary(error, sizeof error);
    if (!library) {
        std::fprintf(stderr, "cannot load libnvidia-ml.so.1: %s\n", error);
        return 2;
    }
    NvmlApi api;
    bindNvml(&api, lookupNvmlExport, library, NvmlGeneration::Newest);
    auto state = std::make_unique<AgentState>();
    auto source = std::make_unique<NvmlSource>();
    source->api = &api;
    NvmlStartResult start = startSampler(*state, *source);
    if (start.outcome != NvmlStartOutcome::Ok) {
        char number[32];
        std::fprintf(stderr, "NVML start failed (%s)\n",
                     nvmlErrorText(api, start.error, number, sizeof number));
        return 2;
    }
    int gpus = state->gpuCount.load();
    std::vector<double> ms;
    for (int i = 0; i < passes; ++i) {
        auto t0 = std::chrono::steady_clock::now();
        for (int slot = 0; slot < gpus; ++slot)
            sampleSlot(*state, *source, slot);
        ms.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
    }
    std::sort(ms.begin(), ms.end());
    std::printf(
        "    median full sampling pass (Agent, %d GPUs): %.3f ms (%d passes, fastest %.3f, slowest %.3f)\n",
        gpus, ms[ms.size() / 2], passes, ms.front(), ms.back());
    if (api.shutdown)
        api.shutdown();
    closeNvmlLibrary(library);
    return 0;
}
