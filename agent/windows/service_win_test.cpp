// The service's event log entry, through the seam over the event log calls:
// Wine's ReportEventW takes the call and stores nothing.
#include "agent/windows/service_win.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Reported {
    std::wstring source;
    WORD type = 0;
    DWORD id = 0;
    std::vector<std::wstring> texts;
    int deregistered = 0;
} gReported;

HANDLE WINAPI fakeRegister(LPCWSTR server, LPCWSTR source) {
    gReported.source = server ? L"(remote)" : source;
    return reinterpret_cast<HANDLE>(0x1234);
}

BOOL WINAPI fakeReport(HANDLE log, WORD type, WORD, DWORD id, PSID, WORD strings, DWORD, LPCWSTR* texts,
                       LPVOID) {
    if (log != reinterpret_cast<HANDLE>(0x1234))
        return FALSE;
    gReported.type = type;
    gReported.id = id;
    for (WORD i = 0; i < strings; ++i)
        gReported.texts.push_back(texts[i]);
    return TRUE;
}

BOOL WINAPI fakeDeregister(HANDLE log) {
    gReported.deregistered += log == reinterpret_cast<HANDLE>(0x1234);
    return TRUE;
}

// A start-up failure is an error entry of the message table's first message,
// under the registered source, holding the words the windowed Agent shows.
TEST(ServiceEventLog, StartupFailureIsOneErrorEntryWithTheWindowedAgentsWords) {
    gEventLog.registerSource = fakeRegister;
    gEventLog.report = fakeReport;
    gEventLog.deregister = fakeDeregister;
    noteServiceText(7, L"ビデオカードが9枚以上存在します");
    noteServiceText(4, L"NvAPIの初期化に失敗しました");
    reportServiceTexts(true);
    EXPECT_EQ(L"Kovra Gaugeline Agent", gReported.source);
    EXPECT_EQ(EVENTLOG_ERROR_TYPE, gReported.type);
    EXPECT_EQ(0xC0000001u, gReported.id);
    EXPECT_EQ(std::vector<std::wstring>{L"ビデオカードが9枚以上存在します\r\nNvAPIの初期化に失敗しました"},
              gReported.texts);
    EXPECT_EQ(1, gReported.deregistered);
}

} // namespace
