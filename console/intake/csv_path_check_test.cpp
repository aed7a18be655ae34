#include "console/intake/csv_path_check.h"

#include <gtest/gtest.h>

TEST(CsvPathCheck, Cases) {
    const struct {
        const char* what;
        const char* path;
        int limit;
        bool hasSpace;
    } cases[] = {
        {"plain path", "C:\\logs\\gpu.csv", 260, false},
        {"empty", "", 260, false},
        {"ASCII space", "C:\\my logs\\gpu.csv", 260, true},
        {"space at the end", "C:\\gpu.csv ", 260, true},
        {"tab", "C:\\a\tb.csv", 260, true},
        {"line feed", "C:\\a\nb.csv", 260, true},
        {"carriage return", "C:\\a\rb.csv", 260, true},
        {"ideographic space 0x81 0x40", "C:\\\x81\x40gpu.csv", 260, true},
        {"Japanese folder", "C:\\\x83\x8d\x83\x4f\\gpu.csv", 260, false},                // ログ
        {"second byte 0x81 before '@' is not a space", "C:\\\x8a\x81@.csv", 260, false}, // 梶@
        {"lone lead byte at the end", "C:\\a\x81", 260, false},
        {"half-width katakana", "C:\\\xb6\xde.csv", 260, false},
        {"at-sign alone", "C:\\@.csv", 260, false},
        {"code page 1252 e-acute before a space", "C:\\Users\\Ren\xe9 Dupont\\log.csv", 260, true},
        {"lead byte before a tab", "C:\\\xe0\t.csv", 260, true},
        {"space beyond the limit", "abcd efg", 4, false},
        {"space at the limit", "abcd efg", 5, true},
        // A lead byte in the last allowed position is not paired with what lies beyond.
        {"lead byte at the limit", "a\x81\x40", 2, false},
        {"pair within the limit", "a\x81\x40", 3, true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(csvPathHasSpace(c.path, c.limit), c.hasSpace) << c.what;
}
