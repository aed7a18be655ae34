#include "console/intake/logging/log_console.h"

#include <windows.h>

#include <io.h>

#include <string>

bool attachLogConsole(LogConsole& console) {
    if (!AttachConsole(ATTACH_PARENT_PROCESS))
        AllocConsole();
    // A stream of its own rather than the reopened standard output: the
    // process's stdout stays as it was when the run ends.
    std::FILE* stream = std::fopen("CON", "w");
    if (!stream) {
        FreeConsole();
        return false;
    }
    console.stream = stream;
    console.output = reinterpret_cast<void*>(_get_osfhandle(_fileno(stream)));
    return true;
}

void leaveLogConsole(LogConsole& console) {
    if (console.stream)
        std::fclose(console.stream);
    console.stream = nullptr;
    console.output = nullptr;
}

void releaseLogConsole(LogConsole& console) {
    leaveLogConsole(console);
    FreeConsole();
}

void printLogPieces(LogConsole& console, const std::vector<ConsolePiece>& pieces) {
    if (!console.stream)
        return;
    HANDLE output = static_cast<HANDLE>(console.output);
    // Every coloured piece returns to normal afterwards; runs of one colour
    // are written with one attribute change and one write, which looks the
    // same on screen and costs a fraction of the console calls.
    int current = kAttrNormal;
    std::string pending;
    auto writePending = [&] {
        if (pending.empty())
            return;
        std::fwrite(pending.data(), 1, pending.size(), console.stream);
        std::fflush(console.stream);
        pending.clear();
    };
    for (const ConsolePiece& piece : pieces) {
        int wanted = piece.attribute == kAttrKeep ? current : piece.attribute;
        if (wanted != current) {
            writePending();
            SetConsoleTextAttribute(output, static_cast<WORD>(wanted));
            current = wanted;
        }
        pending += piece.text;
        if (piece.attribute != kAttrKeep && piece.attribute != kAttrNormal) {
            // Back to normal unless the next piece keeps this colour.
            const ConsolePiece* next = &piece + 1;
            if (next == pieces.data() + pieces.size() || next->attribute != piece.attribute) {
                writePending();
                SetConsoleTextAttribute(output, kAttrNormal);
                current = kAttrNormal;
            }
        }
    }
    writePending();
}
