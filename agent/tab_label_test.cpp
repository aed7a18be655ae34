#include "agent/tab_label.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

const std::string kSetsuzoku = "\x90\xDA\x91\xB1";

TEST(TabLabel, ConnectorSuffixes) {
    struct Case {
        int32_t type;
        std::string suffix;
    } cases[] = {
        {-1, " (UNKNOWN " + kSetsuzoku + ")"},
        {0, " (UNKNOWN " + kSetsuzoku + ")"},
        {1, " (VGA " + kSetsuzoku + ")"},
        {2, " (COMPONENT " + kSetsuzoku + ")"},
        {3, " (SVIDEO " + kSetsuzoku + ")"},
        {4, " (HDMI " + kSetsuzoku + ")"},
        {5, " (DVI " + kSetsuzoku + ")"},
        {6, " (LVDS " + kSetsuzoku + ")"},
        {7, " (DP " + kSetsuzoku + ")"},
        {8, " (COMPOSITE " + kSetsuzoku + ")"},
        {9, ""},
        {-2, ""},
        {1000, ""},
        {INT32_MIN + 1, ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.suffix, connectorSuffix(c.type)) << c.type;
}

TEST(TabLabel, SlotAndConnectorSuffixes) {
    struct Case {
        const wchar_t* name;
        int slot;
        int gpuCount;
        int32_t connector;
        std::string label;
    } cases[] = {
        {L"Example GPU", 0, 1, 7, "Example GPU (DP " + kSetsuzoku + ")"},
        {L"Example GPU", 0, 2, 7, "Example GPU(1) (DP " + kSetsuzoku + ")"},
        {L"Example GPU", 1, 2, 4, "Example GPU(2) (HDMI " + kSetsuzoku + ")"},
        {L"Example GPU", 7, 8, 9, "Example GPU(8)"},
        {L"Example GPU", 2, 3, -2, "Example GPU(3)"},
        {L"Example GPU", 0, 2, -1, "Example GPU(1) (UNKNOWN " + kSetsuzoku + ")"},
        {L"Example GPU", 0, 1, 0, "Example GPU (UNKNOWN " + kSetsuzoku + ")"},
        {L"Example GPU", 0, 1, kNoConnector, "Example GPU"},
        {L"Example GPU", 4, 5, kNoConnector, "Example GPU(5)"},
        {L"", 0, 1, 5, " (DVI " + kSetsuzoku + ")"},
    };
    for (const Case& c : cases) {
        char out[kTabLabelBytes];
        std::memset(out, 0x55, sizeof out);
        int n = buildTabLabel(c.name, c.slot, c.gpuCount, c.connector, out);
        EXPECT_EQ(c.label, std::string(out)) << c.slot << " " << c.connector;
        EXPECT_EQ(static_cast<int>(c.label.size()), n);
        for (size_t i = c.label.size(); i < sizeof out; ++i)
            EXPECT_EQ(0, out[i]) << "byte " << i;
    }
}

TEST(TabLabel, LongNameIsCutSoTheSuffixesFit) {
    // 39 characters: with "(8)" and " (COMPOSITE 接続)" the label would be 59 bytes.
    const wchar_t* name = L"NVIDIA GeForce RTX 4090 Laptop GPU XYZW";
    ASSERT_EQ(39u, std::wcslen(name));
    char out[kTabLabelBytes];
    int n = buildTabLabel(name, 7, 8, 8, out);
    std::string suffix = "(8) (COMPOSITE " + kSetsuzoku + ")";
    EXPECT_EQ(kTabLabelBytes - 1, n);
    EXPECT_EQ('\0', out[kTabLabelBytes - 1]);
    std::string label(out);
    ASSERT_EQ(49u, label.size());
    EXPECT_EQ(suffix, label.substr(label.size() - suffix.size()));
    EXPECT_EQ(std::string("NVIDIA GeForce RTX 4090 Laptop GPU XYZW").substr(0, 49 - suffix.size()),
              label.substr(0, 49 - suffix.size()));
}

TEST(TabLabel, DoubleByteNameIsNotCutInsideACharacter) {
    // 39 characters of two bytes each: 78 bytes that must shrink to fit.
    std::wstring name(39, L'\x63A5'); // 接
    char out[kTabLabelBytes];
    int n = buildTabLabel(name.c_str(), 0, 2, 7, out);
    std::string suffix = "(1) (DP " + kSetsuzoku + ")";
    std::string label(out);
    EXPECT_EQ(static_cast<int>(label.size()), n);
    EXPECT_LE(n, kTabLabelBytes - 1);
    size_t nameBytes = label.size() - suffix.size();
    EXPECT_EQ(0u, nameBytes % 2);
    EXPECT_GE(nameBytes, static_cast<size_t>(49 - suffix.size() - 1));
    EXPECT_EQ(suffix, label.substr(nameBytes));
    for (size_t i = 0; i < nameBytes; i += 2) {
        EXPECT_EQ('\x90', label[i]);
        EXPECT_EQ('\xDA', label[i + 1]);
    }
}

TEST(TabLabel, NullAndUnterminatedNamesStayInBounds) {
    char out[kTabLabelBytes];
    EXPECT_EQ(3, buildTabLabel(nullptr, 0, 2, kNoConnector, out));
    EXPECT_STREQ("(1)", out);
    wchar_t raw[kFullNameChars + 1];
    for (wchar_t& c : raw)
        c = L'A'; // no terminator inside the field
    int n = buildTabLabel(raw, 0, 1, kNoConnector, out);
    EXPECT_EQ(kFullNameChars, n);
    EXPECT_EQ(std::string(kFullNameChars, 'A'), std::string(out));
}

} // namespace
