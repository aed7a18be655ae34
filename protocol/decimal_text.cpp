#include "protocol/decimal_text.h"

namespace {
bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Reads sign and digits; *overflow is set when the magnitude exceeds limit.
const char* readMagnitude(const char* p, bool* negative, uint64_t* magnitude, uint64_t limit,
                          bool* overflow) {
    while (isSpace(*p))
        ++p;
    *negative = false;
    if (*p == '+' || *p == '-') {
        *negative = *p == '-';
        ++p;
    }
    uint64_t v = 0;
    *overflow = false;
    for (; *p >= '0' && *p <= '9'; ++p) {
        if (!*overflow) {
            v = v * 10 + static_cast<uint64_t>(*p - '0');
            if (v > limit)
                *overflow = true;
        }
    }
    *magnitude = v;
    return p;
}
} // namespace

int32_t decimalAtoi(const char* text) {
    bool negative, overflow;
    uint64_t magnitude;
    readMagnitude(text, &negative, &magnitude, 2147483648ull, &overflow);
    if (negative)
        return overflow ? INT32_MIN : static_cast<int32_t>(-static_cast<int64_t>(magnitude));
    if (overflow || magnitude > 2147483647ull)
        return INT32_MAX;
    return static_cast<int32_t>(magnitude);
}

uint32_t decimalStrtoul(const char* text) {
    bool negative, overflow;
    uint64_t magnitude;
    readMagnitude(text, &negative, &magnitude, 4294967295ull, &overflow);
    if (overflow)
        return 4294967295u;
    uint32_t v = static_cast<uint32_t>(magnitude);
    return negative ? 0u - v : v;
}
