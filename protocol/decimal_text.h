// Decimal conversions with the C library's atoi and strtoul (base 10)
// semantics, fixed to 32 bits so both builds read a line the same way.
#pragma once
#include <cstdint>

// Leading white space, an optional sign, digits; stops at the first other
// byte. No digits gives 0; out-of-range values saturate at INT32_MIN/INT32_MAX.
int32_t decimalAtoi(const char* text);
// Like strtoul in base 10 on a 32-bit unsigned long: a leading '-' negates the
// value modulo 2^32; out-of-range values give 4294967295.
uint32_t decimalStrtoul(const char* text);
