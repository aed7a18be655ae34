#include "protocol/number_format.h"

int formatUnsigned(uint32_t value, char* out) {
    char digits[10];
    int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    for (int i = 0; i < n; ++i)
        out[i] = digits[n - 1 - i];
    out[n] = '\0';
    return n;
}

int formatSigned(int32_t value, char* out) {
    if (value >= 0)
        return formatUnsigned(static_cast<uint32_t>(value), out);
    out[0] = '-';
    // Negate in unsigned arithmetic so INT32_MIN works.
    return 1 + formatUnsigned(0u - static_cast<uint32_t>(value), out + 1);
}
