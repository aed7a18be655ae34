#include "console/intake/decimal_text.h"

#include <gtest/gtest.h>

TEST(DecimalText, AtoiCases) {
    struct Case {
        const char* text;
        int32_t value;
    } cases[] = {
        {"0", 0},
        {"54", 54},
        {"-5", -5},
        {"+7", 7},
        {"  12", 12},
        {"12\r", 12},
        {"1x2", 1},
        {"", 0},
        {"abc", 0},
        {"-", 0},
        {"2147483647", INT32_MAX},
        {"2147483648", INT32_MAX},
        {"-2147483648", INT32_MIN},
        {"-99999999999", INT32_MIN},
        {"99999999999999999999999", INT32_MAX},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.value, decimalAtoi(c.text)) << '"' << c.text << '"';
}

TEST(DecimalText, StrtoulCases) {
    struct Case {
        const char* text;
        uint32_t value;
    } cases[] = {
        {"0", 0u},
        {"8388608", 8388608u},
        {"4294967295", 4294967295u},
        {"4294967296", 4294967295u},
        {"-1", 4294967295u},
        {"-5", 4294967291u},
        {"\t42", 42u},
        {"", 0u},
        {"x1", 0u},
        {"123456789012345678901234567890", 4294967295u},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.value, decimalStrtoul(c.text)) << '"' << c.text << '"';
}
