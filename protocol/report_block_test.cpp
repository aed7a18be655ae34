#include "protocol/report_block.h"
#include "protocol/text_cp932.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

struct Blocks {
    GpuSample samples[kGpuSlotCount];
    uint8_t block[kReportBlockBytes];
    Blocks() {
        for (auto& s : samples)
            clearGpuSample(&s);
        std::memset(block, 0xAB, sizeof block);
    }
    std::vector<std::string> lines(int gpuCount, const char* agentLabel) {
        int length = buildReportBlock(samples, gpuCount, agentLabel, block);
        for (int i = length; i < kReportBlockBytes; ++i)
            EXPECT_EQ(0, block[i]) << "byte " << i;
        std::vector<std::string> out(1);
        for (int i = 0; i < length; ++i) {
            if (block[i] == '\n')
                out.emplace_back();
            else
                out.back().push_back(static_cast<char>(block[i]));
        }
        EXPECT_TRUE(out.back().empty()) << "text does not end with a line feed";
        out.pop_back();
        return out;
    }
};

// The worked example: Example GPU on DisplayPort at 192.0.2.20.
TEST(ReportBlock, WorkedExampleComesOutByteForByte) {
    Blocks b;
    GpuSample& s = b.samples[0];
    std::wcscpy(s.fullName, L"Example GPU");
    std::strcpy(s.tabLabel, "Example GPU (DP \x90\xDA\x91\xB1)");
    const uint32_t values[kSampleFieldCount] = {
        1, 1,  1733000, 5005000, 0, 0,       1, 1620000, 1607000, 5005000, 0,     1506000, 1911000, 5005000,
        1, 37, 0,       8388608, 1, 1203456, 1, 54,      1,       180000,  65432, 1,       1,       0,
        1, 21, 1,       0,       1, 3,       1, 33,      1,       1125,    1,     1062500, 1,       1043000};
    for (int k = 0; k < kSampleFieldCount; ++k)
        setSampleFieldBits(&s, k, values[k]);
    std::string expected = "192.0.2.20\n1\nExample GPU\nExample GPU (DP \x90\xDA\x91\xB1)\n"
                           "1\n1\n1733000\n5005000\n0\n0\n1\n1620000\n"
                           "1607000\n5005000\n0\n1506000\n1911000\n5005000\n"
                           "1\n37\n0\n8388608\n1\n1203456\n"
                           "1\n54\n1\n180000\n65432\n1\n1\n0\n"
                           "1\n21\n1\n0\n1\n3\n1\n33\n"
                           "1\n1125\n1\n1062500\n1\n1043000\n";
    std::string empty = "- empty -\n\n";
    for (int k = 0; k < kSampleFieldCount; ++k)
        empty += "0\n";
    for (int slot = 1; slot < kGpuSlotCount; ++slot)
        expected += empty;
    ASSERT_EQ(884u, expected.size());
    b.lines(1, "192.0.2.20");
    EXPECT_EQ(expected, std::string(reinterpret_cast<char*>(b.block), 884));
}

TEST(ReportBlock, NumberLimitsAndFlags) {
    Blocks b;
    GpuSample& s = b.samples[0];
    s.memoryTotal = 4294967295u;
    s.temperature = -5;
    s.gpuLoad = INT32_MIN;
    s.driverModel = INT32_MAX;
    s.graphicsClockSupported = 7; // a flag outside 0/1 keeps its digit
    s.memoryClockSupported = 12;  // a flag outside 1..9 is written as 0
    auto l = b.lines(1, "10.0.0.1");
    EXPECT_EQ("4294967295", l[2 + 19]); // line 20 of part 0
    EXPECT_EQ("-5", l[2 + 23]);
    EXPECT_EQ("-2147483648", l[2 + 17]);
    EXPECT_EQ("2147483647", l[2 + 18]);
    EXPECT_EQ("7", l[2 + 2]);
    EXPECT_EQ("0", l[2 + 3]);
}

TEST(ReportBlock, TextsAreCutToTheirLinesAndCannotShiftThem) {
    struct Case {
        const wchar_t* name;
        std::string label; // copied without its terminator
        const char* agentLabel;
        std::string line0, line2, line3;
    } cases[] = {
        {L"Bad\nName", "Bad\nLabel", "1.2.3.4", "1.2.3.4", "Bad Name", "Bad Label"},
        {L"GPU \x63A5\x7D9A", "", "1.2.3.4", "1.2.3.4", "GPU \x90\xDA\x91\xB1", ""},
        {L"", std::string(kTabLabelBytes, 'L'), "255.255.255.255-and-more", "255.255.255.255", "",
         std::string(kTabLabelBytes - 1, 'L')},
    };
    for (const Case& c : cases) {
        Blocks b;
        std::wcscpy(b.samples[0].fullName, c.name);
        std::memcpy(b.samples[0].tabLabel, c.label.data(), c.label.size());
        auto l = b.lines(1, c.agentLabel);
        ASSERT_EQ(2u + kGpuSlotCount * kLinesPerGpu, l.size()) << c.line2;
        EXPECT_EQ(c.line0, l[0]);
        EXPECT_EQ(c.line2, l[2]);
        EXPECT_EQ(c.line3, l[3]);
    }
}

TEST(Request, BytesOnTheWire) {
    struct Case {
        const char* address;
        bool writes;
    } cases[] = {{"192.0.2.5", true}, {"255.255.255.255", true}, {"1234567890123456", false}};
    for (const Case& c : cases) {
        uint8_t request[kRequestBytes];
        std::memset(request, 0xEE, sizeof request);
        ASSERT_EQ(c.writes, writeRequest(c.address, request)) << c.address;
        std::string expected = c.writes ? std::string(c.address) : std::string(kRequestBytes, '\xEE');
        expected.resize(kRequestBytes, '\0');
        EXPECT_EQ(expected, std::string(reinterpret_cast<char*>(request), kRequestBytes));
    }
}

TEST(Request, AddressIsReadUpToItsTerminator) {
    struct Case {
        std::string bytes; // padded with 'Z' to the request size
        bool ok;
        const char* address;
    } cases[] = {{std::string("192.0.2.5\0", 10), true, "192.0.2.5"},
                 {std::string("255.255.255.255\0", 16), true, "255.255.255.255"},
                 {std::string(17, '1') + '\0', false, ""}};
    for (const Case& c : cases) {
        std::string bytes = c.bytes;
        bytes.resize(kRequestBytes, 'Z');
        char back[kAddressTextMax + 1];
        EXPECT_EQ(c.ok, readRequestAddress(reinterpret_cast<const uint8_t*>(bytes.data()), back));
        EXPECT_STREQ(c.address, back);
    }
}

TEST(Cp932, NeverSplitsACharacter) {
    char bytes[8];
    // "接続" needs 4 bytes: with room for 3 only the first character fits.
    EXPECT_EQ(2, wideToCp932(L"\x63A5\x7D9A", bytes, 4));
    EXPECT_STREQ("\x90\xDA", bytes);
    EXPECT_EQ(3, wideToCp932(L"\x2103"
                             L"C",
                             bytes, sizeof bytes)); // ℃
    EXPECT_STREQ("\x81\x8E"
                 "C",
                 bytes);
    EXPECT_EQ(1, wideToCp932(L"\x0E01", bytes, sizeof bytes)); // no cp932 form
    EXPECT_STREQ("?", bytes);

    wchar_t wide[8];
    EXPECT_EQ(3, cp932ToWide("\x90\xDA\x91\xB1"
                             "A",
                             5, wide, 8));
    EXPECT_STREQ(L"\x63A5\x7D9A"
                 L"A",
                 wide);
    // A lead byte at the very end stands alone and is not valid.
    EXPECT_EQ(2, cp932ToWide("A\x90", 2, wide, 8));
    EXPECT_STREQ(L"A?", wide);
    EXPECT_EQ(1, cp932ToWide("AB", 2, wide, 2));
    EXPECT_STREQ(L"A", wide);
}

} // namespace
