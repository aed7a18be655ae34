// The 4096-byte report block (Agent to Console) and the 20-byte request
// (Console to Agent).
#pragma once
#include "protocol/gpu_sample.h"

#include <cstdint>

// Writes exactly kReportBlockBytes bytes: agentLabel, gpuCount, then all 8 GPU
// parts, each line ended by byte 10, the rest zero. Returns the text length.
int buildReportBlock(const GpuSample samples[kGpuSlotCount], int gpuCount, const char* agentLabel,
                     uint8_t out[kReportBlockBytes]);

// Fills the 20-byte request with the dotted address text, its terminator and
// zeros. False (and nothing written) when the text is longer than 15 characters.
bool writeRequest(const char* dottedAddress, uint8_t out[kRequestBytes]);

// Copies the address text of a request (up to its terminator) into out (16
// bytes). False when no terminator comes within the first 16 bytes. The text
// is not checked; the caller reads it by the rules of inet_addr.
bool readRequestAddress(const uint8_t request[kRequestBytes], char out[kAddressTextMax + 1]);
