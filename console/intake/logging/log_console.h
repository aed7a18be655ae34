// The text console that shows the logged rows while a logging run lasts.
#pragma once
#include "console/intake/logging/log_console_block.h"

#include <cstdio>
#include <vector>

struct LogConsole {
    std::FILE* stream = nullptr; // "CON" opened for writing
    void* output = nullptr;      // its console handle, for the colours
};

// Borrows the parent process's console or opens a new one and opens "CON"
// for writing. False (and the console given back) when that fails.
bool attachLogConsole(LogConsole& console);

// Closes the stream and gives the console back.
void releaseLogConsole(LogConsole& console);

// Closes the stream only: the console stays with the process for the run
// that holds it now.
void leaveLogConsole(LogConsole& console);

// Prints the pieces in order, setting each coloured piece's attribute before
// it and the normal attribute after it.
void printLogPieces(LogConsole& console, const std::vector<ConsolePiece>& pieces);
