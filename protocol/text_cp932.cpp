#include "protocol/text_cp932.h"

#include "protocol/text_cp932_platform.h"

#include <cstring>

namespace {
bool isLeadByte(unsigned char b) {
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}
} // namespace

int wideToCp932(const wchar_t* in, char* out, int outSize) {
    if (outSize <= 0)
        return 0;
    int written = 0;
    for (const wchar_t* p = in; *p; ++p) {
        char bytes[4];
        int n = *p < 0x80 ? (bytes[0] = static_cast<char>(*p), 1) : cp932FromWideChar(*p, bytes);
        if (n <= 0) {
            bytes[0] = '?';
            n = 1;
        }
        if (written + n > outSize - 1)
            break;
        std::memcpy(out + written, bytes, n);
        written += n;
    }
    out[written] = '\0';
    return written;
}

int cp932ToWide(const char* in, int inBytes, wchar_t* out, int outChars) {
    if (outChars <= 0)
        return 0;
    int len = 0;
    while (len < inBytes && in[len] != '\0')
        ++len;
    int written = 0;
    int i = 0;
    while (i < len && written < outChars - 1) {
        unsigned char b = static_cast<unsigned char>(in[i]);
        int step = isLeadByte(b) && i + 1 < len ? 2 : 1;
        wchar_t ch = b < 0x80 ? static_cast<wchar_t>(b) : cp932ToWideChar(in + i, step);
        out[written++] = ch ? ch : L'?';
        i += step;
    }
    out[written] = L'\0';
    return written;
}
