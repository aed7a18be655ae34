#include "protocol/number_format.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

TEST(NumberFormat, UnsignedAndSignedCases) {
    struct U {
        uint32_t v;
        const char* text;
    } unsignedCases[] = {{0, "0"}, {7, "7"}, {10, "10"}, {1733000, "1733000"}, {4294967295u, "4294967295"}};
    for (const U& c : unsignedCases) {
        char buf[20];
        EXPECT_EQ(static_cast<int>(std::string(c.text).size()), formatUnsigned(c.v, buf));
        EXPECT_STREQ(c.text, buf);
    }
    struct S {
        int32_t v;
        const char* text;
    } signedCases[] = {
        {0, "0"}, {54, "54"}, {-1, "-1"}, {INT32_MAX, "2147483647"}, {INT32_MIN, "-2147483648"}};
    for (const S& c : signedCases) {
        char buf[20];
        EXPECT_EQ(static_cast<int>(std::string(c.text).size()), formatSigned(c.v, buf));
        EXPECT_STREQ(c.text, buf);
    }
}
