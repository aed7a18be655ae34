#include "tests/peers/block_check.h"

#include "protocol/report_block.h"
#include "tests/peers/bad_blocks.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

TEST(BlockCheck, WorkedExampleIsValidAndParsed) {
    uint8_t block[kReportBlockBytes];
    makeGoodBlock(1, 0, "192.0.2.20", block);
    CheckedBlock b;
    std::string error;
    ASSERT_TRUE(checkReportBlock(block, &b, &error)) << error;
    EXPECT_EQ(b.agentLabel, "192.0.2.20");
    EXPECT_EQ(b.gpuCount, 1);
    EXPECT_EQ(b.textBytes, 884);
    EXPECT_EQ(b.gpus[0].fullName, "Example GPU");
    EXPECT_EQ(b.gpus[0].tabLabel, "Example GPU (DP \x90\xDA\x91\xB1)");
    EXPECT_EQ(b.gpus[0].fields[sampleFieldIndex("graphicsClock")], 1733000u);
    EXPECT_EQ(b.gpus[0].fields[sampleFieldIndex("powerDraw")], 65432u);
    EXPECT_EQ(b.gpus[0].fields[sampleFieldIndex("gpuLoad")], 37u);
    EXPECT_EQ(b.gpus[1].fullName, "- empty -");
}

TEST(BlockCheck, TwoGpuLabelsCarrySlotAndConnector) {
    uint8_t block[kReportBlockBytes];
    makeGoodBlock(2, 0, "192.0.2.20", block);
    CheckedBlock b;
    std::string error;
    ASSERT_TRUE(checkReportBlock(block, &b, &error)) << error;
    EXPECT_EQ(b.gpus[0].tabLabel, "Example GPU(1) (DP \x90\xDA\x91\xB1)");
    EXPECT_EQ(b.gpus[1].tabLabel, "Example GPU(2) (HDMI \x90\xDA\x91\xB1)");
}

struct Corruption {
    const char* what;
    int offset; // byte to overwrite, counted from the start of the text
    uint8_t value;
};

class BlockCheckCorrupt : public ::testing::TestWithParam<Corruption> {};

TEST_P(BlockCheckCorrupt, IsRejected) {
    uint8_t block[kReportBlockBytes];
    makeGoodBlock(1, 0, "192.0.2.20", block);
    const Corruption& c = GetParam();
    block[c.offset] = c.value;
    CheckedBlock b;
    std::string error;
    EXPECT_FALSE(checkReportBlock(block, &b, &error)) << c.what;
    EXPECT_FALSE(error.empty());
}

// Offsets in the worked example: 0 label, 11 gpu count, 13 "Example GPU",
// 47 first flag line, 883 last line feed, 900 trailing zeros.
INSTANTIATE_TEST_SUITE_P(
    Faults, BlockCheckCorrupt,
    ::testing::Values(Corruption{"letter in label", 0, 'x'}, Corruption{"gpu count 0", 11, '0'},
                      Corruption{"gpu count 9", 11, '9'}, Corruption{"zero byte in name", 13, 0},
                      Corruption{"flag 2", 47, '2'}, Corruption{"carriage return", 44, '\r'},
                      Corruption{"last line feed missing", 883, 'x'},
                      Corruption{"garbage after text", 900, 'x'}));

TEST(BlockCheck, RejectsLeadingZeroAndOverflow) {
    GpuSample s[kGpuSlotCount];
    for (auto& x : s)
        clearGpuSample(&x);
    exampleSample(&s[0], 0, 1, 0);
    uint8_t block[kReportBlockBytes];
    buildReportBlock(s, 1, "192.0.2.20", block);
    std::string text(reinterpret_cast<char*>(block));
    size_t at = text.find("\n1733000\n");
    ASSERT_NE(at, std::string::npos);
    uint8_t bad[kReportBlockBytes];
    for (const char* replacement : {"\n0733000\n", "\n9999999999\n"}) {
        std::string t = text.substr(0, at) + replacement + text.substr(at + 9);
        std::memset(bad, 0, sizeof bad);
        std::memcpy(bad, t.data(), t.size());
        CheckedBlock b;
        std::string error;
        EXPECT_FALSE(checkReportBlock(bad, &b, &error)) << replacement;
    }
}

TEST(BadBlocks, EveryKindBreaksTheLayout) {
    for (int k = 0; k < kBadBlockKindCount; ++k) {
        BadSend b;
        ASSERT_TRUE(makeBadBlock(kBadBlockKinds[k], 1, "192.0.2.20", &b)) << kBadBlockKinds[k];
        ASSERT_FALSE(b.pieces.empty());
        if (b.pieces.size() == 1 && b.pieces[0].size() == kReportBlockBytes) {
            CheckedBlock c;
            std::string error;
            EXPECT_FALSE(checkReportBlock(b.pieces[0].data(), &c, &error)) << kBadBlockKinds[k];
        }
    }
    BadSend b;
    EXPECT_FALSE(makeBadBlock("no-such-kind", 1, "192.0.2.20", &b));
}

} // namespace
