// The coloured block that the text console shows for each logged row, built
// as pieces so the console writer only sets attributes and prints bytes.
#pragma once
#include "console/intake/logging/csv_format.h"

#include <string>
#include <vector>

// Console character attributes.
constexpr int kAttrKeep = 0;     // print with whatever attribute is current
constexpr int kAttrGpuName = 11; // bright cyan
constexpr int kAttrValue = 5;    // magenta
constexpr int kAttrNormal = 7;   // light grey, set again after every coloured piece

// One print: when attribute is not kAttrKeep the writer sets it first and sets
// kAttrNormal afterwards. Text is code page 932.
struct ConsolePiece {
    int attribute;
    std::string text;
};

// The time line that opens every block (two pieces, current attribute).
std::vector<ConsolePiece> consoleBlockStart(const LogTime& time);

// The lines of one logged GPU: the name piece, then one piece for the clock
// lines together, then one piece per further selected item.
std::vector<ConsolePiece> consoleGpuPieces(const PanelSlotSnapshot& slot,
                                           const bool itemSelected[kCsvItemCount]);

// The line that closes every block.
ConsolePiece consoleBlockEnd();

// The line shown in place of the GPU lines when the file cannot be opened.
ConsolePiece consoleMissingFile();

// The console line of one item for one slot (for the clock items, one line each).
std::string consoleItemLine(const PanelSlotSnapshot& slot, CsvItem item);
