// What the Agent and the Console share as Windows programs: one instance per
// machine, the message loop, and the font of their texts.
#pragma once
#include <windows.h>

// Takes the named mutex that keeps a program to one instance. Null when it
// cannot be made or another instance holds it; the program then ends at once,
// with no window and no message.
HANDLE claimSingleInstance(const wchar_t* mutexName);
// Releases what claimSingleInstance gave, and sets the handle to null.
void releaseSingleInstance(HANDLE& mutex);

// Runs until WM_QUIT and returns its code. Accelerators may be null.
int runMessageLoop(HACCEL accelerators);

// Height 12, normal weight, Shift-JIS "ＭＳ Ｐゴシック". Null on failure.
HFONT createUiFont();
