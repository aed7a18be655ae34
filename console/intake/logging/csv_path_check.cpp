#include "console/intake/logging/csv_path_check.h"

#include "protocol/text_cp932.h"

namespace {

bool isNarrowSpace(unsigned char b) {
    return b == ' ' || (b >= '\t' && b <= '\r');
}

bool isWideSpace(wchar_t c) {
    return c == L' ' || (c >= L'\t' && c <= L'\r') || c == 0x3000;
}

bool isLeadByte(unsigned char b) {
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

bool isTrailByte(unsigned char b) {
    return (b >= 0x40 && b <= 0x7E) || (b >= 0x80 && b <= 0xFC);
}

} // namespace

bool csvPathHasSpace(const char* path, int maxBytes) {
    int i = 0;
    while (i < maxBytes && path[i] != '\0') {
        const unsigned char b = static_cast<unsigned char>(path[i]);
        if (isNarrowSpace(b))
            return true;
        // A lead byte followed by anything but a trail byte (a space after
        // 'é' in a code page 1252 path) stands alone.
        const int step =
            isLeadByte(b) && i + 1 < maxBytes && isTrailByte(static_cast<unsigned char>(path[i + 1])) ? 2 : 1;
        if (step == 2) {
            wchar_t wide[2] = {};
            if (cp932ToWide(path + i, 2, wide, 2) == 1 && isWideSpace(wide[0]))
                return true;
        }
        i += step;
    }
    return false;
}
