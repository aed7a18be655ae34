#include "protocol/text_cp932.h"

#include <windows.h>

#include <cstring>
#include <cwchar>

int wideToCp932(const wchar_t* in, char* out, int outSize) {
    if (outSize <= 0)
        return 0;
    int written = 0;
    for (const wchar_t* p = in; *p; ++p) {
        char bytes[4];
        BOOL usedDefault = FALSE;
        int n = WideCharToMultiByte(932, 0, p, 1, bytes, sizeof bytes, "?", &usedDefault);
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
        int step = IsDBCSLeadByteEx(932, static_cast<BYTE>(in[i])) && i + 1 < len ? 2 : 1;
        wchar_t ch = L'?';
        if (MultiByteToWideChar(932, 0, in + i, step, &ch, 1) != 1)
            ch = L'?';
        out[written++] = ch;
        i += step;
    }
    out[written] = L'\0';
    return written;
}
