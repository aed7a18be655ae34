#include "gpu/module_identity.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {
// A minimal PE header image: DOS header, "PE\0\0", file header, optional header.
std::vector<uint8_t> peImage(uint32_t peOffset, uint32_t timeDateStamp, uint32_t checkSum, uint16_t magic) {
    std::vector<uint8_t> image(512, 0);
    image[0] = 'M';
    image[1] = 'Z';
    std::memcpy(&image[0x3C], &peOffset, 4);
    if (peOffset + 4 + 20 + 68 <= image.size()) {
        std::memcpy(&image[peOffset], "PE\0\0", 4);
        std::memcpy(&image[peOffset + 8], &timeDateStamp, 4);
        std::memcpy(&image[peOffset + 24], &magic, 2);
        std::memcpy(&image[peOffset + 24 + 64], &checkSum, 4);
    }
    return image;
}
} // namespace

TEST(ModuleIdentity, ReadsCheckSumAndTimeDateStamp) {
    for (uint16_t magic : {uint16_t{0x20B}, uint16_t{0x10B}}) {
        auto image = peImage(0x80, 0x5F5E1000, 0x0001ABCD, magic);
        ModuleIdentity id;
        ASSERT_TRUE(readModuleIdentity(image.data(), image.size(), id));
        EXPECT_EQ(id.timeDateStamp, 0x5F5E1000u);
        EXPECT_EQ(id.checkSum, 0x0001ABCDu);
    }
}

TEST(ModuleIdentity, RefusesImagesThatAreNotPe) {
    struct Case {
        const char* what;
        std::vector<uint8_t> image;
        size_t available;
    };
    auto noMz = peImage(0x80, 1, 2, 0x20B);
    noMz[0] = 'X';
    auto noPe = peImage(0x80, 1, 2, 0x20B);
    noPe[0x81] = 'X';
    auto badMagic = peImage(0x80, 1, 2, 0x107);
    auto farOffset = peImage(0x7FFFFFF0, 1, 2, 0x20B);
    auto pastEnd = peImage(0x1C0, 1, 2, 0x20B); // headers run past the 512 bytes
    const Case cases[] = {
        {"no MZ", noMz, 512},
        {"no PE signature", noPe, 512},
        {"unknown magic", badMagic, 512},
        {"huge e_lfanew", farOffset, 512},
        {"past the end", pastEnd, 512},
        {"too short for e_lfanew", peImage(0x80, 1, 2, 0x20B), 0x30},
    };
    for (const Case& c : cases) {
        ModuleIdentity id{7, 7};
        EXPECT_FALSE(readModuleIdentity(c.image.data(), c.available, id)) << c.what;
        EXPECT_EQ(id.checkSum, 7u) << c.what;
    }
    ModuleIdentity id;
    EXPECT_FALSE(readModuleIdentity(nullptr, 512, id));
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
        {{0, 0}, {0, 0}, true},  // both empty: the rule alone cannot tell them apart
    };
    for (const Case& c : cases)
        EXPECT_EQ(sameModuleIdentity(c.recorded, c.found), c.same)
            << c.recorded.checkSum << "/" << c.recorded.timeDateStamp << " vs " << c.found.checkSum << "/"
            << c.found.timeDateStamp;
}
