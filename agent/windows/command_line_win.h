// The program's own arguments as UTF-8, whatever their length.
#pragma once
#include <string>
#include <vector>

// Splits a command line as the platform does and gives each argument after
// the program's name as UTF-8. False when the line cannot be split.
bool utf8Arguments(const wchar_t* commandLine, std::vector<std::string>* out);
