#include "protocol/text_cp932_platform.h"

#include <windows.h>

int cp932FromWideChar(wchar_t ch, char out[4]) {
    BOOL usedDefault = FALSE;
    int n = WideCharToMultiByte(932, 0, &ch, 1, out, 4, nullptr, &usedDefault);
    return n > 0 && !usedDefault ? n : 0;
}

wchar_t cp932ToWideChar(const char* bytes, int count) {
    wchar_t ch = 0;
    return MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, bytes, count, &ch, 1) == 1 ? ch : 0;
}
