// Native builds convert through iconv, which knows code page 932 as "CP932".
#include "protocol/text_cp932_platform.h"

#include <iconv.h>

namespace {
// Bytes produced, or -1.
int convert(const char* to, const char* from, const char* in, size_t inLen, char* out, size_t outLen) {
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

int cp932FromWideChar(wchar_t ch, char out[4]) {
    int n = convert("CP932", "WCHAR_T", reinterpret_cast<const char*>(&ch), sizeof ch, out, 4);
    return n > 0 ? n : 0;
}

wchar_t cp932ToWideChar(const char* bytes, int count) {
    wchar_t ch[2];
    return convert("WCHAR_T", "CP932", bytes, count, reinterpret_cast<char*>(ch), sizeof ch) ==
                   static_cast<int>(sizeof(wchar_t))
               ? ch[0]
               : 0;
}
