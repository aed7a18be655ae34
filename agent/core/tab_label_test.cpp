#include "agent/core/tab_label.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const std::string kSetsuzoku = "\x90\xDA\x91\xB1";

TEST(TabLabel, SlotAndConnectorSuffixes) {
    const std::string setsu18 =
        "\x90\xDA\x90\xDA\x90\xDA\x90\xDA\x90\xDA\x90\xDA\x90\xDA\x90\xDA\x90\xDA"
        "\x90\xDA\x90\xDA\x90\xDA\x90\xDA\x90\xDA\x90\xDA\x90\xDA\x90\xDA\x90\xDA"; // 接 18 times
    struct Case {
        std::wstring name;
        int slot, gpuCount, connector;
        std::string label;
    };
    const Case cases[] = {
        {L"G", 0, 1, -1, "G (UNKNOWN " + kSetsuzoku + ")"},
        {L"Example GPU", 7, 8, 9, "Example GPU(8)"},
        {L"Example GPU", 2, 3, -2, "Example GPU(3)"},
        {L"Example GPU", 4, 5, kNoConnector, "Example GPU(5)"},
        {L"", 0, 1, 5, " (DVI " + kSetsuzoku + ")"},
        // Long names are cut so the suffixes fit in 49 bytes, never inside a
        // double-byte character.
        {L"NVIDIA GeForce RTX 4090 Laptop GPU XYZW", 7, 8, 8,
         "NVIDIA GeForce RTX 4090 Lapto(8) (COMPOSITE " + kSetsuzoku + ")"},
        {std::wstring(39, L'\x63A5'), 0, 2, 7, setsu18 + "(1) (DP " + kSetsuzoku + ")"},
    };
    for (const Case& c : cases) {
        char out[kTabLabelBytes];
        buildTabLabel(c.name.c_str(), c.slot, c.gpuCount, c.connector, out);
        EXPECT_EQ(c.label, std::string(out)) << c.slot << " " << c.connector;
    }
}

} // namespace
