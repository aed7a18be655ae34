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
    }
    std::vector<std::string> lines(int gpuCount, const char* agentLabel) {
        int length = buildReportBlock(samples, gpuCount, agentLabel, block);
        std::vector<std::string> out(1);
        for (int i = 0; i < length; ++i) {
            if (block[i] == '\n')
                out.emplace_back();
            else
                out.back().push_back(static_cast<char>(block[i]));
        }
        out.pop_back();
        return out;
    }
};

// Example GPU on DisplayPort at 192.0.2.20.
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
    expected.resize(kReportBlockBytes, '\0');
    std::memset(b.block, 0xAB, sizeof b.block);
    b.lines(1, "192.0.2.20");
    EXPECT_EQ(expected, std::string(reinterpret_cast<char*>(b.block), kReportBlockBytes));
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
    EXPECT_EQ((std::vector<std::string>{"7", "0", "-2147483648", "2147483647", "4294967295", "-5"}),
              (std::vector<std::string>{l[2 + 2], l[2 + 3], l[2 + 17], l[2 + 18], l[2 + 19], l[2 + 23]}));
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
        EXPECT_EQ((std::vector<std::string>{c.line0, c.line2, c.line3}),
                  (std::vector<std::string>{l[0], l[2], l[3]}));
    }
}

// The address text is written with zeros after it and read up to its
// terminator; 16 characters leave no room for the terminator.
TEST(Request, BytesOnTheWire) {
    struct Case {
        std::string address;
        bool ok;
    } cases[] = {{"192.0.2.5", true}, {"255.255.255.255", true}, {"1234567890123456", false}};
    for (const Case& c : cases) {
        uint8_t request[kRequestBytes];
        std::memset(request, 0xEE, sizeof request);
        ASSERT_EQ(c.ok, writeRequest(c.address.c_str(), request)) << c.address;
        std::string expected = c.ok ? c.address : std::string(kRequestBytes, '\xEE');
        expected.resize(kRequestBytes, '\0');
        EXPECT_EQ(expected, std::string(reinterpret_cast<char*>(request), kRequestBytes));
        std::string received = c.address + '\0';
        received.resize(kRequestBytes, 'Z');
        char back[kAddressTextMax + 1];
        EXPECT_EQ(c.ok, readRequestAddress(reinterpret_cast<const uint8_t*>(received.data()), back));
        EXPECT_EQ(c.ok ? c.address : "", std::string(back));
    }
}

TEST(Cp932, NeverSplitsACharacter) {
    struct Case {
        std::wstring wide;
        int room;
        std::string bytes;
    } narrow[] = {{L"\x63A5\x7D9A", 4, "\x90\xDA"},   // "接続" needs 4 bytes and the terminator
                  {L"\x2103\x43", 8, "\x81\x8E\x43"}, // "℃C"
                  {L"\x0E01", 8, "?"}},               // no cp932 form
        wides[] = {{L"\x63A5\x7D9A\x41", 8, "\x90\xDA\x91\xB1\x41"},
                   {L"A?", 8, "A\x90"}, // a lead byte at the very end stands alone
                   {L"A", 2, "AB"}};
    for (const Case& c : narrow) {
        char bytes[8];
        EXPECT_EQ(static_cast<int>(c.bytes.size()), wideToCp932(c.wide.c_str(), bytes, c.room));
        EXPECT_EQ(c.bytes, std::string(bytes));
    }
    for (const Case& c : wides) {
        wchar_t wide[8];
        EXPECT_EQ(static_cast<int>(c.wide.size()),
                  cp932ToWide(c.bytes.data(), static_cast<int>(c.bytes.size()), wide, c.room));
        EXPECT_EQ(c.wide, std::wstring(wide));
    }
}

} // namespace
