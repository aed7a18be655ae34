// Native builds convert through iconv, which knows code page 932 as "CP932".
#include "protocol/text_cp932.h"

#include <iconv.h>

#include <cstring>
#include <cwchar>

namespace {
// Converts one unit; returns bytes produced or -1.
int convertOne(const char* to, const char* from, const char* in, size_t inLen, char* out, size_t outLen) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1))
        return -1;
    char* src = const_cast<char*>(in);
    char* dst = out;
    size_t left = outLen;
    size_t rc = iconv(cd, &src, &inLen, &dst, &left);
    iconv_close(cd);
    if (rc == static_cast<size_t>(-1) || inLen != 0)
        return -1;
    return static_cast<int>(outLen - left);
}
} // namespace

int wideToCp932(const wchar_t* in, char* out, int outSize) {
    if (outSize <= 0)
        return 0;
    int written = 0;
    for (const wchar_t* p = in; *p; ++p) {
        char bytes[8];
        int n;
        if (*p < 0x80) {
            bytes[0] = static_cast<char>(*p);
            n = 1;
        } else {
            n = convertOne("CP932", "WCHAR_T", reinterpret_cast<const char*>(p), sizeof(wchar_t), bytes,
                           sizeof bytes);
            if (n <= 0) {
                bytes[0] = '?';
                n = 1;
            }
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
        bool lead = (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
        int step = lead && i + 1 < len ? 2 : 1;
        wchar_t ch = L'?';
        if (b < 0x80) {
            ch = static_cast<wchar_t>(b);
        } else {
            wchar_t tmp[2];
            if (convertOne("WCHAR_T", "CP932", in + i, step, reinterpret_cast<char*>(tmp), sizeof tmp) ==
                static_cast<int>(sizeof(wchar_t)))
                ch = tmp[0];
        }
        out[written++] = ch;
        i += step;
    }
    out[written] = L'\0';
    return written;
}
