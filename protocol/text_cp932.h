// Conversions between wide text and Japanese code page 932 (Shift-JIS). The
// bytes on the wire and in the CSV file are code page 932 whatever the
// machine's locale, so the programs convert explicitly.
#pragma once

// Writes at most outSize - 1 bytes and a terminator; a double-byte character
// that does not fit whole is left out. Characters with no code page 932 form
// become '?'. Returns the number of bytes written (terminator not counted).
int wideToCp932(const wchar_t* in, char* out, int outSize);

// Converts at most inBytes bytes (stopping at a NUL) into at most outChars - 1
// wide characters and a terminator. Returns the number of characters written.
int cp932ToWide(const char* in, int inBytes, wchar_t* out, int outChars);
