#include "console/intake/csv_path_check.h"

#include <gtest/gtest.h>

namespace {

struct PathCase {
    const char* what;
    const char* path;
    bool hasSpace;
};

const PathCase kCases[] = {
    {"plain path", "C:\\logs\\gpu.csv", false},
    {"empty", "", false},
    {"ASCII space", "C:\\my logs\\gpu.csv", true},
    {"space at the end", "C:\\gpu.csv ", true},
    {"tab", "C:\\a\tb.csv", true},
    {"line feed", "C:\\a\nb.csv", true},
    {"carriage return", "C:\\a\rb.csv", true},
    {"ideographic space 0x81 0x40", "C:\\\x81\x40gpu.csv", true},
    {"Japanese folder", "C:\\\x83\x8d\x83\x4f\\gpu.csv", false},                // ログ
    {"second byte 0x81 before '@' is not a space", "C:\\\x8a\x81@.csv", false}, // 梶@
    {"lone lead byte at the end", "C:\\a\x81", false},
    {"half-width katakana", "C:\\\xb6\xde.csv", false},
    {"at-sign alone", "C:\\@.csv", false},
    {"code page 1252 e-acute before a space", "C:\\Users\\Ren\xe9 Dupont\\log.csv", true},
    {"lead byte before a tab", "C:\\\xe0\t.csv", true},
};

TEST(CsvPathCheck, Cases) {
    for (const PathCase& c : kCases)
        EXPECT_EQ(csvPathHasSpace(c.path, 260), c.hasSpace) << c.what;
}

TEST(CsvPathCheck, StopsAtTheByteLimit) {
    char path[8] = {'a', 'b', 'c', 'd', ' ', 'e', 'f', 'g'}; // no terminator
    EXPECT_FALSE(csvPathHasSpace(path, 4));
    EXPECT_TRUE(csvPathHasSpace(path, 5));
    // A lead byte in the last allowed position is not paired with what lies beyond.
    char wide[3] = {'a', '\x81', '\x40'};
    EXPECT_FALSE(csvPathHasSpace(wide, 2));
    EXPECT_TRUE(csvPathHasSpace(wide, 3));
}

} // namespace
