// README.md's table of where each reading comes from says what the code's
// table says, row for row.
#include "gpu/reading_sources.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

TEST(ReadingSources, ReadmeTableMatchesTheCode) {
    std::vector<std::string> want = {
        "| wire field(s) | Windows Agent | Linux Agent (NVML) | conversion on Linux |",
        "|---|---|---|---|",
    };
#define GAUGELINE_README_ROW(fields, windows, linuxSource, conversion)                                       \
    want.push_back(std::string("| ") + fields + " | " + windows + " | " + linuxSource + " | " + conversion + \
                   " |");
    GAUGELINE_READING_SOURCES(GAUGELINE_README_ROW)
#undef GAUGELINE_README_ROW
    std::ifstream readme(GAUGELINE_README);
    ASSERT_TRUE(readme) << GAUGELINE_README;
    std::string line;
    while (std::getline(readme, line) && line != "### Where each reading comes from") {
    }
    std::vector<std::string> got;
    while (std::getline(readme, line) && (got.empty() || line.rfind("|", 0) == 0))
        if (line.rfind("|", 0) == 0)
            got.push_back(line);
    EXPECT_EQ(got, want);
}
