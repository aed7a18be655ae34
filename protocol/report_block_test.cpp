#include "protocol/report_block.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

// The GPU of the worked example: Example GPU on DisplayPort at 192.0.2.20.
GpuSample exampleGpu() {
    GpuSample s;
    clearGpuSample(&s);
    std::wcscpy(s.fullName, L"Example GPU");
    std::strcpy(s.tabLabel, "Example GPU (DP \x90\xDA\x91\xB1)");
    const uint32_t values[kSampleFieldCount] = {
        1, 1,  1733000, 5005000, 0, 0,       1, 1620000, 1607000, 5005000, 0,     1506000, 1911000, 5005000,
        1, 37, 0,       8388608, 1, 1203456, 1, 54,      1,       180000,  65432, 1,       1,       0,
        1, 21, 1,       0,       1, 3,       1, 33,      1,       1125,    1,     1062500, 1,       1043000};
    for (int k = 0; k < kSampleFieldCount; ++k)
        setSampleFieldBits(&s, k, values[k]);
    return s;
}

std::vector<std::string> lines(const uint8_t* block, int textLength) {
    std::vector<std::string> out;
    std::string current;
    for (int i = 0; i < textLength; ++i) {
        if (block[i] == '\n') {
            out.push_back(current);
            current.clear();
        } else {
            current += static_cast<char>(block[i]);
        }
    }
    EXPECT_TRUE(current.empty()) << "text does not end with a line feed";
    return out;
}

struct Blocks {
    GpuSample samples[kGpuSlotCount];
    uint8_t block[kReportBlockBytes];
    Blocks() {
        for (auto& s : samples)
            clearGpuSample(&s);
    }
};

TEST(ReportBlock, WorkedExampleComesOutByteForByte) {
    Blocks b;
    b.samples[0] = exampleGpu();
    std::memset(b.block, 0xAB, sizeof b.block);
    int length = buildReportBlock(b.samples, 1, "192.0.2.20", b.block);

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

    ASSERT_EQ(884, length);
    ASSERT_EQ(884u, expected.size());
    EXPECT_EQ(expected, std::string(reinterpret_cast<char*>(b.block), length));
    for (int i = length; i < kReportBlockBytes; ++i)
        ASSERT_EQ(0, b.block[i]) << "byte " << i;
}

TEST(ReportBlock, AlwaysEightPartsOf44Lines) {
    Blocks b;
    int length = buildReportBlock(b.samples, 1, "10.0.0.1", b.block);
    EXPECT_EQ(2u + 8u * 44u, lines(b.block, length).size());
}

TEST(ReportBlock, NumberLimitsAndFlags) {
    Blocks b;
    GpuSample& s = b.samples[0];
    s.memoryTotal = 4294967295u;
    s.temperature = -5;
    s.gpuLoad = INT32_MIN;
    s.graphicsClockSupported = 7; // a flag outside 0/1 keeps its digit
    s.memoryClockSupported = 12;  // a flag outside 1..9 is written as 0
    int length = buildReportBlock(b.samples, 1, "10.0.0.1", b.block);
    auto l = lines(b.block, length);
    EXPECT_EQ("4294967295", l[2 + 19]); // line 20 of part 0
    EXPECT_EQ("-5", l[2 + 23]);
    EXPECT_EQ("-2147483648", l[2 + 17]);
    EXPECT_EQ("7", l[2 + 2]);
    EXPECT_EQ("0", l[2 + 3]);
}

TEST(ReportBlock, LongestTextsStayInsideTheBlock) {
    Blocks b;
    for (auto& s : b.samples) {
        for (int i = 0; i < kFullNameChars; ++i)
            s.fullName[i] = L'N';
        s.fullName[kFullNameChars] = L'\0';
        std::memset(s.tabLabel, 'L', sizeof s.tabLabel); // no terminator at all
        for (int k = 0; k < kSampleFieldCount; ++k)
            setSampleFieldBits(&s, k, kSampleFields[k].kind == WireKind::Unsigned ? 4294967295u : 1u);
    }
    int length = buildReportBlock(b.samples, 8, "255.255.255.255-and-more", b.block);
    ASSERT_LT(length, kReportBlockBytes);
    auto l = lines(b.block, length);
    ASSERT_EQ(354u, l.size());
    EXPECT_EQ("255.255.255.255", l[0]);
    EXPECT_EQ(39u, l[2].size());
    EXPECT_EQ(49u, l[3].size());
}

TEST(ReportBlock, LineFeedsInsideTextsCannotShiftLines) {
    Blocks b;
    std::wcscpy(b.samples[0].fullName, L"Bad\nName");
    std::strcpy(b.samples[0].tabLabel, "Bad\nLabel");
    int length = buildReportBlock(b.samples, 1, "1.2.3.4", b.block);
    auto l = lines(b.block, length);
    ASSERT_EQ(354u, l.size());
    EXPECT_EQ("Bad Name", l[2]);
    EXPECT_EQ("Bad Label", l[3]);
}

TEST(ReportBlock, WideNamesBecomeCodePage932) {
    Blocks b;
    std::wcscpy(b.samples[0].fullName, L"GPU \x63A5\x7D9A"); // 接続
    int length = buildReportBlock(b.samples, 1, "1.2.3.4", b.block);
    auto l = lines(b.block, length);
    EXPECT_EQ("GPU \x90\xDA\x91\xB1", l[2]);
}

TEST(Request, WriteAndReadBack) {
    struct Case {
        const char* address;
        bool writes;
    } cases[] = {{"192.0.2.5", true}, {"255.255.255.255", true}, {"", true}, {"1234567890123456", false}};
    for (const Case& c : cases) {
        uint8_t request[kRequestBytes];
        std::memset(request, 0xEE, sizeof request);
        ASSERT_EQ(c.writes, writeRequest(c.address, request)) << c.address;
        if (!c.writes) {
            EXPECT_EQ(0xEE, request[0]);
            continue;
        }
        size_t n = std::strlen(c.address);
        EXPECT_EQ(0, std::memcmp(request, c.address, n));
        for (size_t i = n; i < kRequestBytes; ++i)
            EXPECT_EQ(0, request[i]);
        char back[16];
        ASSERT_TRUE(readRequestAddress(request, back));
        EXPECT_STREQ(c.address, back);
    }
}

TEST(Request, BytesAfterTheTerminatorAreIgnored) {
    uint8_t request[kRequestBytes];
    std::memset(request, 'Z', sizeof request);
    std::memcpy(request, "192.0.2.5", 10);
    char back[16];
    ASSERT_TRUE(readRequestAddress(request, back));
    EXPECT_STREQ("192.0.2.5", back);
}

TEST(Request, NoTerminatorInTheAddressRoomIsRefused) {
    uint8_t request[kRequestBytes];
    std::memset(request, '1', sizeof request);
    request[17] = 0;
    char back[16];
    EXPECT_FALSE(readRequestAddress(request, back));
    EXPECT_STREQ("", back);
}

} // namespace

#include "protocol/text_cp932.h"

namespace {

TEST(Cp932, RoundTripsAndNeverSplitsACharacter) {
    char bytes[8];
    // "接続" needs 4 bytes: with room for 3 only the first character fits.
    EXPECT_EQ(2, wideToCp932(L"\x63A5\x7D9A", bytes, 4));
    EXPECT_STREQ("\x90\xDA", bytes);
    EXPECT_EQ(3, wideToCp932(L"\x2103" L"C", bytes, sizeof bytes)); // ℃
    EXPECT_STREQ("\x81\x8E" "C", bytes);
    EXPECT_EQ(1, wideToCp932(L"\x0E01", bytes, sizeof bytes)); // no cp932 form
    EXPECT_STREQ("?", bytes);

    wchar_t wide[8];
    EXPECT_EQ(3, cp932ToWide("\x90\xDA\x91\xB1" "A", 5, wide, 8));
    EXPECT_STREQ(L"\x63A5\x7D9A" L"A", wide);
    // A lead byte at the very end stands alone and is not valid.
    EXPECT_EQ(2, cp932ToWide("A\x90", 2, wide, 8));
    EXPECT_STREQ(L"A?", wide);
    // Stops at the NUL and at the output room.
    EXPECT_EQ(1, cp932ToWide("AB", 2, wide, 2));
    EXPECT_STREQ(L"A", wide);
}

} // namespace
