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
    // are written with one attribute change and one write, and one colour
    // follows another directly, which looks the same on screen and costs a
    // fraction of the console calls.
    int current = kAttrNormal;
    std::string pending;
    // Written to the console handle directly, with the line ends the text
    // stream would give them: the stream's own write asks the console more
    // than once per call.
    auto writePending = [&] {
        if (pending.empty())
            return;
        std::string bytes;
        bytes.reserve(pending.size() + 32);
        for (char c : pending) {
            if (c == '\n')
                bytes += '\r';
            bytes += c;
        }
        DWORD written = 0;
        WriteFile(output, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
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
            // Back to normal unless the next piece sets a colour of its own:
            // then no text would ever show in normal between the two.
            const ConsolePiece* next = &piece + 1;
            if (next == pieces.data() + pieces.size() || next->attribute == kAttrKeep) {
                writePending();
                SetConsoleTextAttribute(output, kAttrNormal);
                current = kAttrNormal;
            }
        }
    }
    writePending();
}
