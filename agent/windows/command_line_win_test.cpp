#include "agent/windows/command_line_win.h"

#include <gtest/gtest.h>

namespace {

// An allow list of 64 entries is over 700 characters; it must come through whole.
TEST(CommandLine, ArgumentsOfAnyLengthComeThroughAsUtf8) {
    std::wstring wideList;
    std::string list;
    for (int i = 0; i < 64; ++i) {
        std::string entry = (i ? "," : "") + std::string("192.0.2.") + std::to_string(i);
        list += entry;
        wideList += std::wstring(entry.begin(), entry.end());
    }
    const struct {
        std::wstring line;
        std::vector<std::string> arguments;
    } cases[] = {
        {L"agent.exe --allow-from " + wideList, {"--allow-from", list}},
        {L"agent.exe \"--allow-from\" \"" + wideList + L"\" --x", {"--allow-from", list, "--x"}},
        {L"agent.exe caf\u00e9 \u63a5\u7d9a", {"caf\xc3\xa9", "\xe6\x8e\xa5\xe7\xb6\x9a"}},
        {L"agent.exe", {}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> got = {"left over"};
        ASSERT_TRUE(utf8Arguments(c.line.c_str(), &got));
        EXPECT_EQ(c.arguments, got) << c.arguments.size();
    }
}

} // namespace
