#include "console/display/value_format.h"

namespace {

// Digits of magnitude, most significant first; returns the count.
int writeDigits(uint64_t magnitude, char* out) {
    char reversed[24];
    int n = 0;
    do {
        reversed[n++] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    for (int i = 0; i < n; ++i)
        out[i] = reversed[n - 1 - i];
    return n;
}

uint64_t magnitudeOf(int64_t value) {
    return value < 0 ? static_cast<uint64_t>(-(value + 1)) + 1 : static_cast<uint64_t>(value);
}

// Fixed point with two decimals: whole = magnitude / unit, then the first two
// digits of the remainder, nothing rounded.
int writeFixed(int64_t value, uint64_t unit, char* out) {
    int n = 0;
    if (value < 0)
        out[n++] = '-';
    uint64_t magnitude = magnitudeOf(value);
    n += writeDigits(magnitude / unit, out + n);
    uint64_t hundredths = (magnitude % unit) * 100 / unit;
    out[n++] = '.';
    out[n++] = static_cast<char>('0' + hundredths / 10);
    out[n++] = static_cast<char>('0' + hundredths % 10);
    out[n] = '\0';
    return n;
}

int widen(const char* in, int n, wchar_t* out) {
    for (int i = 0; i <= n; ++i)
        out[i] = static_cast<wchar_t>(in[i]);
    return n;
}

} // namespace

int formatDecimalValue(int64_t value, char* out) {
    int n = 0;
    if (value < 0)
        out[n++] = '-';
    n += writeDigits(magnitudeOf(value), out + n);
    out[n] = '\0';
    return n;
}

int formatTwoDecimal(int64_t thousandths, char* out) {
    return writeFixed(thousandths, 1000, out);
}

int formatMebibytes(uint32_t kib, char* out) {
    double mib = static_cast<double>(kib) * (1.0 / 1024.0);
    return writeFixed(static_cast<int64_t>(mib * 1000.0), 1000, out);
}

int formatVolts(uint32_t microvolts, char* out) {
    return writeFixed(microvolts, 1000000, out);
}

int formatScreenValue(int64_t value, ScreenScale scale, wchar_t* out) {
    char text[kValueTextBytes];
    int n = 0;
    switch (scale) {
    case ScreenScale::Plain:
        n = formatDecimalValue(value, text);
        break;
    case ScreenScale::Thousandths:
        n = formatTwoDecimal(value, text);
        break;
    case ScreenScale::Kibibytes:
        n = formatMebibytes(static_cast<uint32_t>(value), text);
        break;
    case ScreenScale::Microvolts:
        n = formatVolts(static_cast<uint32_t>(value), text);
        break;
    case ScreenScale::DriverModel: {
        const char* name = value == 0 ? "WDDM" : value == 1 ? "WDM(TCC)" : "";
        while ((text[n] = name[n]) != '\0')
            ++n;
        break;
    }
    }
    return widen(text, n, out);
}
