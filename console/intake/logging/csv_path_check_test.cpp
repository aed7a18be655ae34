#include "console/intake/logging/csv_path_check.h"

#include <gtest/gtest.h>

TEST(CsvPathCheck, Cases) {
    const struct {
        const char* path;
        int limit;
        bool hasSpace;
    } cases[] = {
        {"C:\\logs\\gpu.csv", 260, false},
        {"C:\\gpu.csv ", 260, true},
        {"C:\\a\tb.csv", 260, true},
        {"C:\\a\rb.csv", 260, true},
        {"C:\\\x81\x40gpu.csv", 260, true},                // ideographic space
        {"C:\\\x8a\x81@.csv", 260, false},                 // second byte 0x81 before '@' is not a space
        {"C:\\\xb6\xde.csv", 260, false},                  // half-width katakana
        {"C:\\Users\\Ren\xe9 Dupont\\log.csv", 260, true}, // code page 1252 e-acute before a space
        {"abcd efg", 4, false},
        {"abcd efg", 5, true},
        {"a\x81\x40", 2, false}, // a lead byte at the limit is not paired with what lies beyond
    };
    for (const auto& c : cases)
        EXPECT_EQ(csvPathHasSpace(c.path, c.limit), c.hasSpace) << c.path;
}
