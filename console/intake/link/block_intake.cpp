// Report block parsing and the reset when a report connection ends.
#include "console/intake/link/intake.h"
#include "console/intake/link/readings.h"
#include "protocol/decimal_text.h"
#include "protocol/text_cp932.h"

#include <cstring>
#include <cwchar>

namespace {

constexpr int kLineBufferBytes = 100;

// Walks the block line by line. A line longer than 99 bytes is cut to 99; a
// line with no newline before the block's end is not a line.
struct LineReader {
    const uint8_t* block;
    int pos = 0;

    bool next(char (&line)[kLineBufferBytes]) {
        std::memset(line, 0, sizeof line);
        int end = pos;
        while (end < kReportBlockBytes && block[end] != '\n')
            ++end;
        if (end >= kReportBlockBytes)
            return false;
        int length = end - pos;
        std::memcpy(line, block + pos, length < kLineBufferBytes - 1 ? length : kLineBufferBytes - 1);
        pos = end + 1;
        return true;
    }
};

void storeField(GpuPanelSlot& slot, int k, const char* line) {
    if (kSampleFields[k].conversion == ConsoleConversion::Strtoul)
        setSlotField(slot, static_cast<SampleField>(k), decimalStrtoul(line));
    else
        setSlotField(slot, static_cast<SampleField>(k), decimalAtoi(line));
}

void updateTitle(const char* agentLabel, const IntakeWindowCallbacks& hooks) {
    if (!hooks.readTitle || !hooks.writeTitle)
        return;
    wchar_t current[256];
    if (!hooks.readTitle(hooks.context, current, 256))
        return;
    wchar_t title[256];
    if (extendedTitle(current, agentLabel, title, 256))
        hooks.writeTitle(hooks.context, title);
}

} // namespace

bool extendedTitle(const wchar_t* current, const char* agentLabel, wchar_t* out, int outChars) {
    if (std::wcscmp(current, kConsoleTitle) != 0)
        return false;
    wchar_t label[kAgentLabelChars + 1];
    cp932ToWide(agentLabel, kAgentLabelChars, label, kAgentLabelChars + 1);
    int n =
        std::swprintf(out, outChars, L"%ls ===> [Agent: %ls] \x304B\x3089\x63A5\x7D9A", kConsoleTitle, label);
    return n > 0;
}

BlockOutcome applyReportBlock(GpuPanelState& state, const uint8_t* block,
                              const IntakeWindowCallbacks& hooks) {
    LineReader reader{block};
    char line[kLineBufferBytes];

    if (!reader.next(line))
        return BlockOutcome::Truncated;
    {
        std::lock_guard<std::mutex> lock(state.textLock);
        std::memset(state.agentLabel, 0, sizeof state.agentLabel);
        std::memcpy(state.agentLabel, line, kAgentLabelChars);
    }
    char label[kAgentLabelChars + 1];
    copyAgentLabel(state, label);
    updateTitle(label, hooks);

    if (!reader.next(line))
        return BlockOutcome::Truncated;
    int32_t count = decimalAtoi(line);
    // Only eight slots exist; a larger count is taken as eight.
    if (count > kGpuSlotCount)
        count = kGpuSlotCount;
    store(state.gpuCount, count);
    if (count <= 0)
        return BlockOutcome::NoGpus;

    for (int slot = 0; slot < count; ++slot) {
        if (!reader.next(line))
            return BlockOutcome::Truncated;
        wchar_t name[kFullNameChars + 1];
        cp932ToWide(line, kLineBufferBytes, name, kFullNameChars + 1);
        if (!reader.next(line))
            return BlockOutcome::Truncated;
        {
            std::lock_guard<std::mutex> lock(state.textLock);
            std::memcpy(state.fullName[slot], name, sizeof name);
            // A label of 50 bytes or more keeps 49 so the field always ends.
            std::memcpy(state.tabLabel[slot], line, kTabLabelBytes);
            state.tabLabel[slot][kTabLabelBytes - 1] = '\0';
        }
        for (int k = 0; k < kSampleFieldCount; ++k) {
            if (!reader.next(line))
                return BlockOutcome::Truncated;
            storeField(state.slots[slot], k, line);
        }
    }
    return BlockOutcome::Applied;
}

void resetGpuPanelState(GpuPanelState& state, const IntakeWindowCallbacks& hooks) {
    if (hooks.writeTitle)
        hooks.writeTitle(hooks.context, kConsoleTitle);
    store(state.gpuCount, 1);
    for (GpuPanelSlot& s : state.slots)
        for (const ReadingInfo& reading : kReadings)
            if (reading.zeroedOnReset)
                setSlotField(s, reading.value, 0);
    {
        std::lock_guard<std::mutex> lock(state.textLock);
        std::memset(state.tabLabel, 0, sizeof state.tabLabel);
        for (auto& name : state.fullName)
            std::wcscpy(name, kEmptyGpuNameWide);
    }
    setTabLabel(state, 0, kEmptyTabLabel);
    if (hooks.resetTabs)
        hooks.resetTabs(hooks.context, kEmptyTabLabel);
}
