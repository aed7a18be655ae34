#include "console/display/value_format.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

struct Case {
    int64_t in;
    const char* out;
};

template <typename F> void check(F format, std::initializer_list<Case> cases) {
    for (const Case& c : cases) {
        char text[kValueTextBytes];
        int n = format(c.in, text);
        EXPECT_STREQ(text, c.out) << c.in;
        EXPECT_EQ(n, static_cast<int>(std::string(c.out).size())) << c.in;
        wchar_t wide[kValueTextBytes];
        format(c.in, wide);
        EXPECT_EQ(std::wstring(wide), std::wstring(c.out, c.out + std::string(c.out).size())) << c.in;
    }
}

} // namespace

TEST(ValueFormat, Decimal) {
    check([](int64_t v, auto* out) { return formatDecimalValue(v, out); }, {{0, "0"},
                                                                            {7, "7"},
                                                                            {100, "100"},
                                                                            {4294967295LL, "4294967295"},
                                                                            {-5, "-5"},
                                                                            {-2147483648LL, "-2147483648"}});
}

TEST(ValueFormat, TwoDecimalTruncates) {
    check([](int64_t v, auto* out) { return formatTwoDecimal(v, out); }, {{1999, "1.99"},
                                                                          {5, "0.00"},
                                                                          {0, "0.00"},
                                                                          {999, "0.99"},
                                                                          {50, "0.05"},
                                                                          {1234567, "1234.56"},
                                                                          {1350000, "1350.00"},
                                                                          {123456, "123.45"},
                                                                          {2147483647, "2147483.64"},
                                                                          {-1500, "-1.50"}});
}

TEST(ValueFormat, Mebibytes) {
    check([](int64_t v, auto* out) { return formatMebibytes(static_cast<uint32_t>(v), out); },
          {{1048576, "1024.00"},
           {3000000, "2929.68"},
           {1536, "1.50"},
           {0, "0.00"},
           {8388608, "8192.00"},
           {1, "0.00"},
           {4294967295LL, "4194303.99"}});
}

TEST(ValueFormat, Volts) {
    check([](int64_t v, auto* out) { return formatVolts(static_cast<uint32_t>(v), out); },
          {{1050000, "1.05"},
           {0, "0.00"},
           {9999, "0.00"},
           {10000, "0.01"},
           {812500, "0.81"},
           {4294967295LL, "4294.96"}});
}
