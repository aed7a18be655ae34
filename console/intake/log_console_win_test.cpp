// The text console under Wine: attach, print coloured pieces, read them back
// from the screen buffer, release, and attach again for a second run.
#include "console/intake/log_console.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

namespace {

// A row of the screen, trailing blanks cut, and the attribute of its first character.
std::string readLine(HANDLE screen, SHORT row, int width) {
    std::vector<char> chars(width);
    WORD attribute = 0;
    DWORD got = 0;
    ReadConsoleOutputCharacterA(screen, chars.data(), width, COORD{0, row}, &got);
    std::string text(chars.data(), got);
    text.erase(text.find_last_not_of(' ') + 1);
    const SHORT first = static_cast<SHORT>(text.find_first_not_of(' '));
    ReadConsoleOutputAttribute(screen, &attribute, 1, COORD{first, row}, &got);
    return text + "|" + std::to_string(attribute);
}

HANDLE openScreen() {
    return CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_EXISTING, 0, nullptr);
}

TEST(LogConsole, AttachPrintReleaseTwice) {
    // The Console is a windowed program and starts without a console; this
    // test program is a console program, so it gives its own one up first.
    FreeConsole();
    for (int run = 0; run < 2; ++run) {
        LogConsole console;
        ASSERT_TRUE(attachLogConsole(console)) << "run " << run;
        ASSERT_NE(console.stream, nullptr);
        HANDLE screen = openScreen();
        ASSERT_NE(screen, INVALID_HANDLE_VALUE);
        CONSOLE_SCREEN_BUFFER_INFO info = {};
        ASSERT_TRUE(GetConsoleScreenBufferInfo(screen, &info));
        const SHORT top = info.dwCursorPosition.Y;
        // Start on a fresh line so the rows read back are ours.
        printLogPieces(console, {{kAttrKeep, "\n"}});
        printLogPieces(console, {{kAttrKeep, "2026/03/07 09:08:07 "},
                                 {kAttrKeep, "==============================\n"},
                                 {kAttrGpuName, "Example GPU:\n"},
                                 {kAttrValue, "\tTemperature         54\n"},
                                 {kAttrKeep, "end\n"}});
        std::vector<std::string> lines;
        for (SHORT row = top + 1; row <= top + 4; ++row)
            lines.push_back(readLine(screen, row, info.dwSize.X));
        lines[0].erase(lines[0].find('|')); // the time row keeps whatever colour the console had
        // Bright cyan names, magenta values, light grey again after.
        EXPECT_EQ(lines,
                  (std::vector<std::string>{"2026/03/07 09:08:07 ==============================",
                                            "Example GPU:|11", "        Temperature         54|5", "end|7"}));
        CloseHandle(screen);
        releaseLogConsole(console);
        EXPECT_EQ(console.stream, nullptr);
    }
}

} // namespace
