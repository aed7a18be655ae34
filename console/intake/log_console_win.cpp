#include "console/intake/log_console.h"

#include <windows.h>

#include <io.h>

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

void releaseLogConsole(LogConsole& console) {
    if (console.stream)
        std::fclose(console.stream);
    console.stream = nullptr;
    console.output = nullptr;
    FreeConsole();
}

void printLogPieces(LogConsole& console, const std::vector<ConsolePiece>& pieces) {
    if (!console.stream)
        return;
    HANDLE output = static_cast<HANDLE>(console.output);
    for (const ConsolePiece& piece : pieces) {
        const bool coloured = piece.attribute != kAttrKeep;
        if (coloured)
            SetConsoleTextAttribute(output, static_cast<WORD>(piece.attribute));
        std::fwrite(piece.text.data(), 1, piece.text.size(), console.stream);
        // Out before the attribute changes again.
        std::fflush(console.stream);
        if (coloured)
            SetConsoleTextAttribute(output, kAttrNormal);
    }
}
