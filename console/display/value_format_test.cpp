#include "console/display/value_format.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

enum class Format { Decimal, TwoDecimal, Mebibytes, Volts };

template <typename T> int format(Format f, int64_t v, T* out) {
    switch (f) {
    case Format::Decimal:
        return formatDecimalValue(v, out);
    case Format::TwoDecimal:
        return formatTwoDecimal(v, out);
    case Format::Mebibytes:
        return formatMebibytes(static_cast<uint32_t>(v), out);
    default:
        return formatVolts(static_cast<uint32_t>(v), out);
    }
}

} // namespace

TEST(ValueFormat, NarrowAndWideTexts) {
    struct Case {
        Format f;
        int64_t in;
        const char* out;
    };
    const Case cases[] = {
        {Format::Decimal, 4294967295LL, "4294967295"},
        {Format::Decimal, -2147483648LL, "-2147483648"},
        {Format::TwoDecimal, 1999, "1.99"}, // truncated
        {Format::TwoDecimal, 50, "0.05"},
        {Format::TwoDecimal, 2147483647, "2147483.64"},
        {Format::TwoDecimal, -1500, "-1.50"},
        {Format::Mebibytes, 3000000, "2929.68"},
        {Format::Mebibytes, 1, "0.00"},
        {Format::Mebibytes, 4294967295LL, "4194303.99"},
        {Format::Volts, 9999, "0.00"},
        {Format::Volts, 10000, "0.01"},
        {Format::Volts, 4294967295LL, "4294.96"},
    };
    for (const Case& c : cases) {
        char text[kValueTextBytes];
        wchar_t wide[kValueTextBytes];
        EXPECT_EQ(format(c.f, c.in, text), static_cast<int>(std::strlen(c.out))) << c.in;
        EXPECT_STREQ(text, c.out) << c.in;
        format(c.f, c.in, wide);
        EXPECT_EQ(std::wstring(wide), std::wstring(c.out, c.out + std::strlen(c.out))) << c.in;
    }
}
