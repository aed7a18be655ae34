// Number texts of the level meters and the readout panel. Each writes ASCII
// into out (at least kValueTextBytes), NUL-terminated, and returns its length.
#pragma once
#include "console/intake/link/readings.h"

#include <cstdint>

constexpr int kValueTextBytes = 24;

// Plain digits; a negative reading keeps its '-' sign.
int formatDecimalValue(int64_t value, char* out);
// A count of thousandths as units with exactly two decimals, truncated:
// 1234567 -> "1234.56", 999 -> "0.99", 0 -> "0.00".
int formatTwoDecimal(int64_t thousandths, char* out);
// KiB as MiB: trunc(kib * (1/1024) * 1000) in double, then two-decimal.
int formatMebibytes(uint32_t kib, char* out);
// Microvolts as volts, two decimals truncated: 1050000 -> "1.05".
int formatVolts(uint32_t microvolts, char* out);

// The screen's text of a reading's value (for drawing).
int formatScreenValue(int64_t value, ScreenScale scale, wchar_t* out);
