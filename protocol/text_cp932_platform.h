// One character at a time, by the platform's own code page 932 tables.
#pragma once

// Bytes of one wide character (1 or 2), or 0 when it has no form.
int cp932FromWideChar(wchar_t ch, char out[4]);
// The wide character of one or two bytes, or 0 when they are not valid.
wchar_t cp932ToWideChar(const char* bytes, int count);
