// Decimal text of 32-bit readings as they appear on the wire.
#pragma once
#include <cstdint>

// Both write into a buffer of at least 12 bytes, NUL-terminated, and return
// the number of characters. No sign, leading zeros or grouping; 0 is "0".
// formatSigned writes a leading '-' for negative values.
int formatUnsigned(uint32_t value, char* out);
int formatSigned(int32_t value, char* out);
