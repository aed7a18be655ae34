// The Agent under Wine with the simulated driver: the Agent window and the
// Agent program itself.
#include "agent/windows/agent_window_win.h"
#include "tests/support/sim_test_support_win.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

// Starts a program and waits up to waitMs for its exit code (9998: not
// started, 9999: still running).
DWORD run(const std::wstring& program, DWORD waitMs, void (*whileRunning)() = nullptr,
          const std::wstring& arguments = L"") {
    std::wstring command = L"\"" + program + L"\"" + arguments;
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    // Wine now and then refuses a process start on a loaded machine; one more
    // try keeps that from reading as a failed case.
    BOOL ok = FALSE;
    for (int attempt = 0; attempt < 2 && !ok; ++attempt) {
        if (attempt > 0)
            Sleep(500);
        ok = CreateProcessW(program.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                            &pi);
    }
    if (!ok)
        return 9998;
    CloseHandle(pi.hThread);
    if (whileRunning)
        whileRunning();
    DWORD code = 9999;
    if (WaitForSingleObject(pi.hProcess, waitMs) == WAIT_OBJECT_0)
        GetExitCodeProcess(pi.hProcess, &code);
    else
        TerminateProcess(pi.hProcess, 99);
    CloseHandle(pi.hProcess);
    return code;
}

void pumpMessages() {
    MSG m;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE) && m.message != WM_QUIT)
        DispatchMessageW(&m);
}

COLORREF pixelAt(HWND window, int x, int y) {
    HDC dc = GetDC(window);
    COLORREF c = GetPixel(dc, x, y);
    ReleaseDC(window, dc);
    return c;
}

int windowDestroyed = 0;
void countDestroyed(void* count) {
    ++*static_cast<int*>(count);
}

TEST(AgentWindow, LinkPictureFollowsTheReportConnection) {
    auto state = std::make_unique<AgentState>();
    resetAgentSlots(*state);
    AgentWindow w;
    w.state = state.get();
    w.instance = GetModuleHandleW(nullptr);
    std::wcscpy(w.title, L"Kovra Gaugeline Agent window test");
    std::wcscpy(w.className, L"GAUGELINEAGENTWINDOWTEST");
    w.callbacks.context = &windowDestroyed;
    w.callbacks.destroyed = countDestroyed;
    w.mutex = CreateMutexW(nullptr, TRUE, nullptr);
    ASSERT_NE(0, registerAgentClass(w));
    HWND window = w.window = createAgentWindow(w, 1280, 1024);
    ASSERT_NE(nullptr, window);
    RECT outer;
    GetWindowRect(window, &outer);
    EXPECT_EQ((std::vector<LONG>{480, 412, 800, 612}),
              (std::vector<LONG>{outer.left, outer.top, outer.right, outer.bottom}));
    EXPECT_EQ(WS_MINIMIZEBOX,
              GetWindowLongW(window, GWL_STYLE) & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME));

    // The link's colour, and its middle: a red cross only while no report
    // connection is open. The monitor's frame, the tower's foot and its green
    // power light stay.
    const COLORREF grey = RGB(150, 150, 150), blue = RGB(96, 120, 160), frame = RGB(60, 63, 70);
    for (int32_t connected : {0, 1, 0}) {
        state->reportConnected.store(connected);
        invalidateAgentWindow(&w);
        pumpMessages();
        COLORREF middle = pixelAt(window, 144, 82);
        EXPECT_EQ((std::vector<COLORREF>{connected ? blue : grey, frame, frame, RGB(40, 200, 60)}),
                  (std::vector<COLORREF>{pixelAt(window, 110, 80), pixelAt(window, 202, 80),
                                         pixelAt(window, 60, 111), pixelAt(window, 71, 73)}))
            << connected;
        if (connected)
            EXPECT_EQ(RGB(255, 255, 255), middle);
        else
            EXPECT_GT(GetRValue(middle), 180);
    }

    // The line naming the metrics endpoint, under the pictures.
    auto darkInLine = [&] {
        int dark = 0;
        for (int y = 130; y < 150; ++y)
            for (int x = 0; x < 300; x += 2)
                dark += GetRValue(pixelAt(window, x, y)) < 128;
        return dark;
    };
    std::wcscpy(w.status, L"metrics: http://0.0.0.0:58681/metrics");
    invalidateAgentWindow(&w);
    pumpMessages();
    EXPECT_GT(darkInLine(), 40);

    SendMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(1, windowDestroyed);
    EXPECT_EQ(nullptr, w.mutex);
    MSG quit;
    EXPECT_TRUE(PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(0u, quit.wParam);
    UnregisterClassW(w.className, w.instance);
}

// The text of the Agent's message box, once it shows; the box is answered.
std::wstring gShownText;
void answerMessageBox() {
    HWND box = nullptr;
    for (int i = 0; i < 600 && !(box = FindWindowW(L"#32770", L"Kovra Gaugeline Agent")); ++i)
        Sleep(50);
    wchar_t shown[200] = {};
    GetDlgItemTextW(box, 0xFFFF, shown, 200);
    gShownText = shown;
    PostMessageW(box, WM_COMMAND, IDOK, 0);
}

// While this test holds the Agent's mutex the program ends at once; then it
// shows the start-up failure and ends with 0 once the message is answered.
TEST(AgentProgram, SecondInstanceEndsAtOnceAndStartupFailureShowsItsMessage) {
    std::wstring exe(GAUGELINE_AGENT_EXE, GAUGELINE_AGENT_EXE + std::strlen(GAUGELINE_AGENT_EXE));
    simtest::useScenario("gpu 0 physical\nfail nvmlInit status 9\n");
    HANDLE mutex = CreateMutexW(nullptr, TRUE, L"Kovra Gaugeline Agent.exe");
    ASSERT_NE(nullptr, mutex);
    ASSERT_NE(static_cast<DWORD>(ERROR_ALREADY_EXISTS), GetLastError()) << "an Agent is already running";
    EXPECT_EQ(0u, run(exe, 20000));
    ReleaseMutex(mutex);
    CloseHandle(mutex);

    EXPECT_EQ(0u, run(exe, 20000, answerMessageBox));
    EXPECT_EQ(std::wstring(L"NvMLの初期化に失敗しました"), gShownText);
    simtest::clearScenario();

    // A command line it cannot follow is said, not ignored.
    gShownText.clear();
    EXPECT_EQ(2u, run(exe, 20000, answerMessageBox, L" --metrics-listen 58681"));
    EXPECT_EQ(
        std::wstring(L"--metrics-listen needs ADDRESS:PORT, for example 127.0.0.1:58681 (got \"58681\")"),
        gShownText);
}

} // namespace
