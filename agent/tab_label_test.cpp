#include "agent/tab_label.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

const std::string kSetsuzoku = "\x90\xDA\x91\xB1";
std::string repeat(const std::string& s, int n) {
    return n ? s + repeat(s, n - 1) : std::string();
}
const std::string kSetsu18 = repeat("\x90\xDA", 18);                       // 接 18 times
const std::wstring kLongName = L"NVIDIA GeForce RTX 4090 Laptop GPU XYZW"; // 39 characters

TEST(TabLabel, SlotAndConnectorSuffixes) {
    struct Case {
        std::wstring name;
        int slot;
        int gpuCount;
        int32_t connector;
        std::string label;
    } cases[] = {
        {L"Example GPU", 0, 1, 7, "Example GPU (DP " + kSetsuzoku + ")"},
        {L"Example GPU", 0, 2, 7, "Example GPU(1) (DP " + kSetsuzoku + ")"},
        {L"Example GPU", 1, 2, 4, "Example GPU(2) (HDMI " + kSetsuzoku + ")"},
        {L"G", 0, 1, -1, "G (UNKNOWN " + kSetsuzoku + ")"},
        {L"G", 0, 1, 0, "G (UNKNOWN " + kSetsuzoku + ")"},
        {L"G", 0, 1, 1, "G (VGA " + kSetsuzoku + ")"},
        {L"G", 0, 1, 2, "G (COMPONENT " + kSetsuzoku + ")"},
        {L"G", 0, 1, 3, "G (SVIDEO " + kSetsuzoku + ")"},
        {L"G", 0, 1, 5, "G (DVI " + kSetsuzoku + ")"},
        {L"G", 0, 1, 6, "G (LVDS " + kSetsuzoku + ")"},
        {L"G", 0, 1, 8, "G (COMPOSITE " + kSetsuzoku + ")"},
        {L"Example GPU", 7, 8, 9, "Example GPU(8)"},
        {L"Example GPU", 2, 3, -2, "Example GPU(3)"},
        {L"Example GPU", 0, 1, 1000, "Example GPU"},
        {L"Example GPU", 4, 5, kNoConnector, "Example GPU(5)"},
        {L"", 0, 1, 5, " (DVI " + kSetsuzoku + ")"},
        // Long names are cut so the suffixes fit in 49 bytes, never inside a
        // double-byte character.
        {kLongName, 7, 8, 8, "NVIDIA GeForce RTX 4090 Lapto(8) (COMPOSITE " + kSetsuzoku + ")"},
        {std::wstring(39, L'\x63A5'), 0, 2, 7, kSetsu18 + "(1) (DP " + kSetsuzoku + ")"},
    };
    for (const Case& c : cases) {
        char out[kTabLabelBytes];
        std::memset(out, 0x55, sizeof out);
        int n = buildTabLabel(c.name.c_str(), c.slot, c.gpuCount, c.connector, out);
        EXPECT_EQ(c.label, std::string(out)) << c.slot << " " << c.connector;
        EXPECT_EQ(static_cast<int>(c.label.size()), n);
        for (size_t i = c.label.size(); i < sizeof out; ++i)
            EXPECT_EQ(0, out[i]) << "byte " << i;
    }
}

} // namespace
