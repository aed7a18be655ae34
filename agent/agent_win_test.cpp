// The Agent under Wine with the simulated driver. Each scenario runs in a
// child process of this program (the driver reads its scenario once per
// process): the parent writes the scenario, names it in the environment and
// checks the child's exit code. The last cases start the Agent program itself.
#include "agent/agent_window_win.h"
#include "agent/driver_table_win.h"
#include "agent/sampler.h"
#include "agent/startup.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

const char* const kChildVariable = "GAUGELINE_AGENT_CHILD";
constexpr int kChildPassed = 42;
const std::string kSetsuzoku = "\x90\xDA\x91\xB1";

std::wstring widen(const std::string& s) {
    return std::wstring(s.begin(), s.end());
}

std::wstring writeScenario(const std::string& name, const std::string& text) {
    wchar_t dir[MAX_PATH];
    GetTempPathW(MAX_PATH, dir);
    std::wstring path = std::wstring(dir) + L"gaugeline-agent-" + widen(name) + L"-" +
                        std::to_wstring(GetCurrentProcessId()) + L".txt";
    HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(f, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(f);
    return path;
}

struct Process {
    HANDLE handle = nullptr;
    DWORD id = 0;
};

// Starts a program with the scenario and child case in its environment.
Process start(const std::wstring& program, const std::wstring& arguments, const std::wstring& scenario,
              const char* childCase) {
    SetEnvironmentVariableW(L"GAUGELINE_SIM_SCENARIO", scenario.c_str());
    SetEnvironmentVariableA(kChildVariable, childCase);
    std::wstring command = L"\"" + program + L"\" " + arguments;
    std::vector<wchar_t> line(command.begin(), command.end());
    line.push_back(L'\0');
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    // Wine now and then refuses a process start on a loaded machine; one more
    // try keeps that from reading as a failed case.
    BOOL ok = FALSE;
    for (int attempt = 0; attempt < 2 && !ok; ++attempt) {
        if (attempt > 0)
            Sleep(500);
        ok = CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                            &pi);
    }
    SetEnvironmentVariableW(L"GAUGELINE_SIM_SCENARIO", nullptr);
    SetEnvironmentVariableA(kChildVariable, nullptr);
    if (!ok)
        return {};
    CloseHandle(pi.hThread);
    return {pi.hProcess, pi.dwProcessId};
}

DWORD finish(Process p, DWORD waitMs) {
    DWORD code = 9999;
    if (WaitForSingleObject(p.handle, waitMs) == WAIT_OBJECT_0)
        GetExitCodeProcess(p.handle, &code);
    else
        TerminateProcess(p.handle, 99);
    CloseHandle(p.handle);
    return code;
}

std::wstring selfPath() {
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    return path;
}

// Runs one child case of this program with a scenario; its exit code is
// kChildPassed when every check inside passed.
DWORD runChild(const char* childCase, const std::string& scenario) {
    std::wstring path = writeScenario(childCase, scenario);
    Process p = start(selfPath(), L"--gtest_filter=AgentChild.Run", path, childCase);
    DWORD code = p.handle ? finish(p, 60000) : 9998;
    DeleteFileW(path.c_str());
    return code;
}

// ------------------------------------------------------------------ child side

struct Shown {
    std::vector<StartupMessage> messages;
};
void record(void* context, StartupMessage m) {
    static_cast<Shown*>(context)->messages.push_back(m);
}

std::string label(const AgentState& state, int slot) {
    char out[kTabLabelBytes];
    loadTabLabel(state, slot, out);
    return out;
}

bool missingNvml(NvmlApi* api) {
    return loadNvmlFrom(L"C:/no such folder/nvml.dll", "nvml_absent.dll", api);
}

TEST(AgentChild, Run) {
    const char* childCase = std::getenv(kChildVariable);
    if (!childCase)
        GTEST_SKIP() << "runs only as a child of the cases below";
    std::string c = childCase;
    auto state = std::make_unique<AgentState>();
    state->agentRunning.store(1);
    Shown shown;
    StartupHooks hooks;
    hooks.message = record;
    hooks.context = &shown;
    DriverTable driver = windowsDriverTable();
    if (c == "missing-nvml")
        driver.loadNvml = missingNvml;
    bool ok = prepareGpus(*state, driver, hooks);

    if (c == "tcc-on-lower-bus") {
        // NVML's device 0 is the TCC card on bus 1; the display card is slot 0.
        ASSERT_TRUE(ok);
        EXPECT_TRUE(shown.messages.empty());
        EXPECT_EQ(2, state->gpuCount.load());
        EXPECT_EQ(std::wstring(L"Example GPU B"), std::wstring(state->slots[1].fullName));
        EXPECT_EQ(2u, state->slots[0].busId);
        EXPECT_EQ(1u, state->slots[1].busId);
        // Two passes through the simulated driver: the TCC GPU's driver model is
        // found in the first, and its memory comes from NVML in the second.
        samplePass(*state, driver);
        samplePass(*state, driver);
        GpuSample samples[kGpuSlotCount];
        snapshotSamples(*state, samples);
        EXPECT_EQ("Example GPU A(1) (HDMI " + kSetsuzoku + ")", std::string(samples[0].tabLabel));
        EXPECT_EQ("Example GPU B(2)", std::string(samples[1].tabLabel));
        EXPECT_EQ(1733000u, samples[0].graphicsClock);
        EXPECT_EQ(54, samples[0].temperature);
        EXPECT_EQ(1u, samples[0].graphicsClockSupported & samples[0].temperatureSupported);
        struct Slot {
            uint32_t power;
            int32_t load, model;
            uint32_t memoryTotal, memoryUsage;
        } slots[] = {{65000, 40, 0, 8388608, 1048576}, {250000, 90, 1, 41943040, 5242880}};
        for (int i = 0; i < 2; ++i) {
            EXPECT_EQ(slots[i].power, samples[i].powerDraw) << i;
            EXPECT_EQ(slots[i].load, samples[i].gpuLoad) << i;
            EXPECT_EQ(slots[i].model, samples[i].driverModel) << i;
            EXPECT_EQ(slots[i].memoryTotal, samples[i].memoryTotal) << i;
            EXPECT_EQ(slots[i].memoryUsage, samples[i].memoryUsage) << i;
            EXPECT_EQ(1u, samples[i].driverModelSupported & samples[i].memoryUsageSupported &
                              samples[i].powerDrawSupported)
                << i;
        }
    } else if (c == "missing-nvml" || c == "nvml-init-missing" || c == "nvml-init-fails" || c == "no-gpu") {
        EXPECT_FALSE(ok);
        ASSERT_EQ(1u, shown.messages.size());
        StartupMessage expected = c == "missing-nvml" ? StartupMessage::NvmlLoadFailed
                                  : c == "no-gpu"     ? StartupMessage::NvapiFailed
                                                      : StartupMessage::NvmlInitFailed;
        EXPECT_EQ(expected, shown.messages[0]);
        EXPECT_EQ(0, state->agentRunning.load());
    } else {
        FAIL() << "unknown child case " << c;
    }
    // Only a child that ran its case to the end without a failure says so.
    if (!::testing::Test::HasFailure())
        std::exit(kChildPassed);
}

// ------------------------------------------------------------------ parent side

TEST(AgentStartup, TccCardOnALowerBusThanTheDisplayCard) {
    EXPECT_EQ(static_cast<DWORD>(kChildPassed), runChild("tcc-on-lower-bus", "gpu 0 physical\n"
                                                                             "gpu 0 name Example GPU A\n"
                                                                             "gpu 0 bus 2\n"
                                                                             "gpu 0 connector HDMI\n"
                                                                             "gpu 0 graphicsClock 1733000\n"
                                                                             "gpu 0 temperature 54\n"
                                                                             "gpu 0 powerDraw 65000\n"
                                                                             "gpu 0 gpuLoad 40\n"
                                                                             "gpu 0 memoryTotal 8388608\n"
                                                                             "gpu 0 memoryUsed 1048576\n"
                                                                             "gpu 1 tcc\n"
                                                                             "gpu 1 name Example GPU B\n"
                                                                             "gpu 1 bus 1\n"
                                                                             "gpu 1 powerDraw 250000\n"
                                                                             "gpu 1 gpuLoad 90\n"
                                                                             "gpu 1 memoryTotal 41943040\n"
                                                                             "gpu 1 memoryUsed 5242880\n"));
}

TEST(AgentStartup, FailuresGiveTheirMessage) {
    EXPECT_EQ(static_cast<DWORD>(kChildPassed), runChild("missing-nvml", "gpu 0 physical\n"));
    EXPECT_EQ(static_cast<DWORD>(kChildPassed),
              runChild("nvml-init-missing", "gpu 0 physical\nomit nvmlInit\n"));
    EXPECT_EQ(static_cast<DWORD>(kChildPassed),
              runChild("nvml-init-fails", "gpu 0 physical\nfail nvmlInit status 9\n"));
    EXPECT_EQ(static_cast<DWORD>(kChildPassed), runChild("no-gpu", "nogpus\n"));
}

// ------------------------------------------------------------------ the window, in this process

int windowDestroyed = 0;

void pumpMessages() {
    MSG m;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
        if (m.message == WM_QUIT)
            break;
        TranslateMessage(&m);
        DispatchMessageW(&m);
    }
}

COLORREF pixelAt(HWND window, int x, int y) {
    HDC dc = GetDC(window);
    COLORREF c = GetPixel(dc, x, y);
    ReleaseDC(window, dc);
    return c;
}

TEST(AgentWindow, LinkPictureFollowsTheReportConnection) {
    auto state = std::make_unique<AgentState>();
    resetAgentSlots(*state);
    AgentWindow w;
    w.state = state.get();
    w.instance = GetModuleHandleW(nullptr);
    std::wcscpy(w.title, L"Kovra Gaugeline Agent window test");
    std::wcscpy(w.className, L"GAUGELINEAGENTWINDOWTEST");
    w.onDestroy = [] { ++windowDestroyed; };
    w.mutex = CreateMutexW(nullptr, TRUE, nullptr);
    ASSERT_NE(0, registerAgentClass(w));
    HWND window = createAgentWindow(w, 1280, 1024);
    ASSERT_NE(nullptr, window);
    w.window = window;
    RECT outer;
    GetWindowRect(window, &outer);
    EXPECT_EQ((std::vector<LONG>{480, 412, 800, 612}),
              (std::vector<LONG>{outer.left, outer.top, outer.right, outer.bottom}));
    LONG style = GetWindowLongW(window, GWL_STYLE);
    EXPECT_EQ(WS_MINIMIZEBOX, style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME));

    struct Step {
        int32_t connected;
        COLORREF link;
    } steps[] = {{0, RGB(150, 150, 150)}, {1, RGB(96, 120, 160)}, {0, RGB(150, 150, 150)}};
    for (const Step& st : steps) {
        state->reportConnected.store(st.connected);
        invalidateAgentWindow(&w);
        pumpMessages();
        EXPECT_EQ(st.link, pixelAt(window, 100 + 10, 70 + 10)) << st.connected;
        // Middle of the link: the red cross only while no report connection is open.
        COLORREF middle = pixelAt(window, 100 + 44, 70 + 12);
        if (st.connected)
            EXPECT_EQ(RGB(255, 255, 255), middle);
        else
            EXPECT_GT(GetRValue(middle), 180);
    }
    // The monitor's frame, the tower's foot and its green power light.
    EXPECT_EQ(RGB(60, 63, 70), pixelAt(window, 200 + 2, 60 + 20));
    EXPECT_EQ(RGB(60, 63, 70), pixelAt(window, 40 + 20, 50 + 61));
    EXPECT_EQ(RGB(40, 200, 60), pixelAt(window, 40 + 31, 50 + 23));

    EXPECT_EQ(0, SendMessageW(window, WM_COMMAND, IDM_AGENT_IGNORED, 0));
    HDC dc = GetDC(window);
    EXPECT_EQ(1, SendMessageW(window, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0));
    ReleaseDC(window, dc);

    int before = windowDestroyed;
    SendMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(before + 1, windowDestroyed);
    EXPECT_EQ(nullptr, w.mutex);
    MSG quit;
    EXPECT_TRUE(PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(0u, quit.wParam);
    UnregisterClassW(w.className, w.instance);
}

// ------------------------------------------------------------------ the program

struct FoundWindow {
    DWORD process;
    const wchar_t* className;
    HWND window;
};

BOOL CALLBACK findWindowOf(HWND window, LPARAM context) {
    auto* f = reinterpret_cast<FoundWindow*>(context);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    wchar_t cls[64] = {};
    GetClassNameW(window, cls, 64);
    if (pid == f->process && std::wcscmp(cls, f->className) == 0) {
        f->window = window;
        return FALSE;
    }
    return TRUE;
}

HWND waitForWindow(DWORD process, const wchar_t* className, DWORD withinMs) {
    DWORD start = GetTickCount();
    do {
        FoundWindow f{process, className, nullptr};
        EnumWindows(findWindowOf, reinterpret_cast<LPARAM>(&f));
        if (f.window && IsWindowVisible(f.window))
            return f.window;
        Sleep(50);
    } while (GetTickCount() - start < withinMs);
    return nullptr;
}

std::wstring agentExe() {
    return widen(GAUGELINE_AGENT_EXE);
}

TEST(AgentProgram, SecondInstanceEndsAtOnceWithoutWindow) {
    HANDLE mutex = CreateMutexW(nullptr, TRUE, L"Kovra Gaugeline Agent.exe");
    ASSERT_NE(nullptr, mutex);
    ASSERT_NE(static_cast<DWORD>(ERROR_ALREADY_EXISTS), GetLastError()) << "an Agent is already running";
    std::wstring scenario = writeScenario("second", "gpu 0 physical\n");
    Process p = start(agentExe(), L"", scenario, "");
    ASSERT_NE(nullptr, p.handle);
    DWORD id = p.id;
    EXPECT_EQ(0u, finish(p, 20000));
    FoundWindow f{id, L"KOVRAGAUGELINEAGENT", nullptr};
    EnumWindows(findWindowOf, reinterpret_cast<LPARAM>(&f));
    EXPECT_EQ(nullptr, f.window);
    ReleaseMutex(mutex);
    CloseHandle(mutex);
    DeleteFileW(scenario.c_str());
}

TEST(AgentProgram, StartupFailureShowsItsMessageAndEndsWithZero) {
    std::wstring scenario = writeScenario("nvmlinit", "gpu 0 physical\nfail nvmlInit status 9\n");
    Process p = start(agentExe(), L"", scenario, "");
    ASSERT_NE(nullptr, p.handle);
    HWND box = waitForWindow(p.id, L"#32770", 30000);
    ASSERT_NE(nullptr, box);
    wchar_t caption[100] = {};
    GetWindowTextW(box, caption, 100);
    EXPECT_EQ(std::wstring(L"Kovra Gaugeline Agent"), std::wstring(caption));
    wchar_t text[200] = {};
    GetDlgItemTextW(box, 0xFFFF, text, 200);
    EXPECT_EQ(std::wstring(L"NvMLの初期化に失敗しました"), std::wstring(text));
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    EXPECT_EQ(0u, finish(p, 20000));
    DeleteFileW(scenario.c_str());
}

} // namespace
