// Strict reading of report blocks as they travel on the wire, for the test
// peers: every byte of the 4096 is checked against the documented layout.
#pragma once
#include "protocol/gpu_sample.h"

#include <cstdint>
#include <string>

struct CheckedGpu {
    std::string fullName; // code page 932 bytes as sent
    std::string tabLabel;
    uint32_t fields[kSampleFieldCount];
};

struct CheckedBlock {
    std::string agentLabel;
    int gpuCount = 0;
    int textBytes = 0; // bytes up to and including the last line feed
    CheckedGpu gpus[kGpuSlotCount];
};

// True when the block follows the layout exactly; otherwise false and error
// names the first fault (line number and what was wrong).
bool checkReportBlock(const uint8_t block[kReportBlockBytes], CheckedBlock* out, std::string* error);

// Index of a field by name (-1 when unknown).
int sampleFieldIndex(const char* name);

// The one-GPU reading of the worked example ("Example GPU", DP display),
// slot i of a rig of n GPUs: names get "(i+1)" when n > 1, numbers shift by i.
void exampleSample(GpuSample* sample, int slot, int gpuCount, uint32_t tick);
