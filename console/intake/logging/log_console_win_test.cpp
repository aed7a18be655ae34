// The text console under Wine: attach, print coloured pieces, read them back
// from the screen buffer, release, and attach again for a second run.
#include "console/intake/logging/log_console.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

namespace {

TEST(LogConsole, AttachPrintReleaseTwice) {
    // The Console is a windowed program and starts without a console; this
    // test program is a console program, so it gives its own one up first.
    FreeConsole();
    for (int run = 0; run < 2; ++run) {
        LogConsole console;
        ASSERT_TRUE(attachLogConsole(console)) << "run " << run;
        HANDLE screen = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
        CONSOLE_SCREEN_BUFFER_INFO info = {};
        ASSERT_TRUE(GetConsoleScreenBufferInfo(screen, &info));
        // Starts on a fresh line so the rows read back are ours.
        printLogPieces(console, {{kAttrKeep, "\n"},
                                 {kAttrGpuName, "Example GPU:\n"},
                                 {kAttrValue, "\tTemperature         54\n"},
                                 {kAttrKeep, "end\n"}});
        const int width = info.dwSize.X;
        const COORD from{0, static_cast<SHORT>(info.dwCursorPosition.Y + 1)};
        std::string text(3 * width, ' '), expected;
        std::vector<WORD> attributes(3 * width);
        DWORD got = 0;
        ReadConsoleOutputCharacterA(screen, &text[0], 3 * width, from, &got);
        ReadConsoleOutputAttribute(screen, attributes.data(), 3 * width, from, &got);
        for (std::string line : {"Example GPU:", "        Temperature         54", "end"})
            expected += line.append(width - line.size(), ' ');
        EXPECT_EQ(text, expected);
        // Bright cyan names, magenta values, light grey again after.
        EXPECT_EQ((std::vector<WORD>{attributes[0], attributes[width + 8], attributes[2 * width]}),
                  (std::vector<WORD>{11, 5, 7}));
        CloseHandle(screen);
        releaseLogConsole(console);
        EXPECT_EQ(console.stream, nullptr);
    }
}

} // namespace
