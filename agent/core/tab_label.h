// The label under which the Console shows a GPU: its name, a slot suffix
// "(1)".."(8)" when there are two or more GPUs, and the connector suffix of its
// first connected display, in code page 932 bytes.
#pragma once
#include "protocol/gpu_sample.h"

#include <cstdint>

constexpr int32_t kNoConnector = INT32_MIN;

// The suffix for an NV_MONITOR_CONN_TYPE value (" (DP 接続)" for 7), or ""
// for a type that has none.
const char* connectorSuffix(int32_t connectorType);

// Writes the label into a 50-byte field, always terminated. connectorType
// kNoConnector leaves the connector suffix out (the start-up label). When the
// whole would exceed 49 bytes the name is shortened, on a character
// boundary, so both suffixes stay whole. Returns the label's length.
int buildTabLabel(const wchar_t* fullName, int slot, int gpuCount, int32_t connectorType,
                  char out[kTabLabelBytes]);
