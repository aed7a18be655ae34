#include "tests/peers/block_check.h"

#include "tests/peers/bad_blocks.h"

#include <gtest/gtest.h>

namespace {

// Smoke test of the checker the end-to-end tests rely on: the peers' good
// block passes and is read back, every malformed kind is refused.
TEST(BlockCheck, GoodBlockPassesAndBadKindsAreRefused) {
    uint8_t block[kReportBlockBytes];
    makeGoodBlock(2, 0, "192.0.2.20", block);
    CheckedBlock b;
    std::string error;
    ASSERT_TRUE(checkReportBlock(block, &b, &error)) << error;
    EXPECT_EQ(b.agentLabel, "192.0.2.20");
    EXPECT_EQ(b.gpus[1].tabLabel, "Example GPU(2) (HDMI \x90\xDA\x91\xB1)");
    EXPECT_EQ(b.gpus[0].fields[sampleFieldIndex("graphicsClock")], 1733000u);
    for (int k = 0; k < kBadBlockKindCount; ++k) {
        BadSend bad;
        ASSERT_TRUE(makeBadBlock(kBadBlockKinds[k], 1, "192.0.2.20", &bad)) << kBadBlockKinds[k];
        if (bad.pieces.size() == 1 && bad.pieces[0].size() == kReportBlockBytes)
            EXPECT_FALSE(checkReportBlock(bad.pieces[0].data(), &b, &error)) << kBadBlockKinds[k];
    }
}

} // namespace
