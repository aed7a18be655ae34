// The facts of the wire between an Agent and a Console, written once.
#pragma once
#include <cstdint>

constexpr uint16_t kGaugelinePort = 58680; // both directions: requests to the Agent, reports to the Console
constexpr int kReportBlockBytes = 4096;    // one report, text then zeros
constexpr int kRequestBytes = 20;          // dotted address, terminator, zeros
constexpr int kAddressTextMax = 15;        // "255.255.255.255"

constexpr int kGpuSlotCount = 8; // GPU parts in every report, used or not
constexpr int kSampleFieldCount = 42;
constexpr int kLinesPerGpu = 2 + kSampleFieldCount; // name, tab label, numbers
constexpr int kFullNameChars = 39;                  // wide characters, terminator not counted
constexpr int kTabLabelBytes = 50;                  // field size; at most 49 bytes of text

// The name of a slot without a GPU.
#define GAUGELINE_EMPTY_GPU_NAME "- empty -"
constexpr char kEmptyGpuName[] = GAUGELINE_EMPTY_GPU_NAME;
constexpr wchar_t kEmptyGpuNameWide[] = L"" GAUGELINE_EMPTY_GPU_NAME;
