#include "gpu/module_identity.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

// A minimal PE header image: DOS header, "PE\0\0", file header, optional header.
std::vector<uint8_t> peImage(uint32_t peOffset, uint16_t magic) {
    std::vector<uint8_t> image(512, 0);
    const uint32_t timeDateStamp = 0x5F5E1000, checkSum = 0x0001ABCD;
    std::memcpy(&image[0], "MZ", 2);
    std::memcpy(&image[0x3C], &peOffset, 4);
    if (peOffset + 4 + 20 + 68 <= image.size()) {
        std::memcpy(&image[peOffset], "PE\0\0", 4);
        std::memcpy(&image[peOffset + 8], &timeDateStamp, 4);
        std::memcpy(&image[peOffset + 24], &magic, 2);
        std::memcpy(&image[peOffset + 24 + 64], &checkSum, 4);
    }
    return image;
}

TEST(ModuleIdentity, ReadsCheckSumAndTimeDateStampOfPeImagesOnly) {
    struct Case {
        uint32_t peOffset;
        uint16_t magic;
        bool read;
    };
    const Case cases[] = {
        {0x80, 0x20B, true}, {0x80, 0x10B, true}, {0x80, 0x107, false}, {0x1C0, 0x20B, false}, // past the end
    };
    for (const Case& c : cases) {
        auto image = peImage(c.peOffset, c.magic);
        ModuleIdentity id{7, 7};
        EXPECT_EQ(readModuleIdentity(image.data(), image.size(), id), c.read) << c.peOffset << " " << c.magic;
        EXPECT_EQ(id.checkSum, c.read ? 0x0001ABCDu : 7u);
        EXPECT_EQ(id.timeDateStamp, c.read ? 0x5F5E1000u : 7u);
    }
}

TEST(ModuleIdentity, CheckSumDecidesWhenPresentElseTimeDateStamp) {
    struct Case {
        ModuleIdentity recorded, found;
        bool same;
    };
    const Case cases[] = {
        {{5, 100}, {5, 200}, true},  // same CheckSum, other time: unchanged
        {{5, 100}, {6, 100}, false}, // other CheckSum, same time: changed
        {{0, 100}, {0, 100}, true},  // no CheckSum: time decides
        {{0, 100}, {0, 101}, false},
        {{0, 0}, {9, 0}, false}, // empty record never matches a module with CheckSum
    };
    for (const Case& c : cases)
        EXPECT_EQ(sameModuleIdentity(c.recorded, c.found), c.same) << &c - cases;
}
