// The check that refuses a CSV path with a space in it.
#pragma once

// True when the code page 932 path holds a space: a byte that is a C space
// character (space, tab, line feed, vertical tab, form feed, carriage return)
// or a double-byte character that is a wide space (the ideographic space
// U+3000, 0x81 0x40). The scan goes character by character, so the second
// byte of a double-byte character is never read as the start of another; a
// lead byte pairs only with a valid second byte (0x40-0x7E, 0x80-0xFC).
// Stops at the terminator or after maxBytes bytes.
bool csvPathHasSpace(const char* path, int maxBytes);
