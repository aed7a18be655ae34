// The text console under Wine: attach, print coloured pieces, read them back
// from the screen buffer, release, and attach again for a second run.
#include "console/intake/log_console.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>

namespace {

struct ScreenLine {
    std::string text;
    std::vector<WORD> attributes;
};

ScreenLine readLine(HANDLE screen, SHORT row, int width) {
    ScreenLine line;
    std::vector<char> chars(width);
    line.attributes.resize(width);
    DWORD got = 0;
    ReadConsoleOutputCharacterA(screen, chars.data(), width, COORD{0, row}, &got);
    line.text.assign(chars.data(), got);
    while (!line.text.empty() && line.text.back() == ' ')
        line.text.pop_back();
    ReadConsoleOutputAttribute(screen, line.attributes.data(), width, COORD{0, row}, &got);
    return line;
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
        const int width = info.dwSize.X;
        // Start on a fresh line so the rows read back are ours.
        printLogPieces(console, {{kAttrKeep, "\n"}});
        printLogPieces(console, {{kAttrKeep, "2026/03/07 09:08:07 "},
                                 {kAttrKeep, "==============================\n"},
                                 {kAttrGpuName, "Example GPU:\n"},
                                 {kAttrValue, "\tTemperature         54\n"},
                                 {kAttrKeep, "end\n"}});
        const ScreenLine time = readLine(screen, top + 1, width);
        const ScreenLine name = readLine(screen, top + 2, width);
        const ScreenLine value = readLine(screen, top + 3, width);
        const ScreenLine end = readLine(screen, top + 4, width);
        EXPECT_EQ(time.text, "2026/03/07 09:08:07 ==============================");
        EXPECT_EQ(name.text, "Example GPU:");
        EXPECT_EQ(name.attributes[0], 11);                                      // bright cyan
        EXPECT_EQ(value.text.find("Temperature         54"), 8u) << value.text; // after the tab
        EXPECT_EQ(value.attributes[8], 5);                                      // magenta
        EXPECT_EQ(end.text, "end");
        EXPECT_EQ(end.attributes[0], 7); // light grey again
        CloseHandle(screen);
        releaseLogConsole(console);
        EXPECT_EQ(console.stream, nullptr);
    }
}

} // namespace
