// gl-uidriver: drives the Console's windows from inside the same Wine prefix
// for the end-to-end tests. One sub-command per call; results on stdout as
// UTF-8 "key=value" lines; exit code 0 on success, 1 on failure or time-out,
// 2 on a usage error.
#include <windows.h>

#include <commctrl.h>
#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <list>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

using Args = std::map<std::wstring, std::wstring>;

const wchar_t* kConsoleClass = L"KOVRAGAUGELINECONSOLE";

void out(const std::wstring& line) {
    int n = WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), nullptr, 0, nullptr,
                                nullptr);
    std::string s(n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), &s[0], n, nullptr, nullptr);
    s += '\n';
    fwrite(s.data(), 1, s.size(), stdout);
    fflush(stdout);
}

std::wstring arg(const Args& a, const wchar_t* key, const wchar_t* fallback = L"") {
    auto it = a.find(key);
    return it == a.end() ? fallback : it->second;
}
int argInt(const Args& a, const wchar_t* key, int fallback) {
    auto it = a.find(key);
    return it == a.end() ? fallback : _wtoi(it->second.c_str());
}

// Text of a window of any process. WM_GETTEXT is marshalled across
// processes; a window whose thread is busy (a dialog inside its button
// handler) does not answer in time and reads as hung.
bool readWindowText(HWND w, std::wstring* text) {
    wchar_t t[1024] = L"";
    DWORD_PTR got = 0;
    if (!SendMessageTimeoutW(w, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(t), SMTO_ABORTIFHUNG, 3000, &got))
        return false;
    *text = t;
    return true;
}

std::wstring windowText(HWND w) {
    std::wstring t;
    return readWindowText(w, &t) ? t : L"";
}

std::wstring className(HWND w) {
    wchar_t c[256] = L"";
    GetClassNameW(w, c, 256);
    return c;
}

// Polls fn every 50 ms until it returns true or timeoutMs passes.
template <typename F> bool poll(int timeoutMs, F fn) {
    DWORD start = GetTickCount();
    for (;;) {
        if (fn())
            return true;
        if (static_cast<int>(GetTickCount() - start) >= timeoutMs)
            return false;
        Sleep(50);
    }
}

// The child windows of parent, or the top-level windows when parent is null.
std::vector<HWND> windowsOf(HWND parent) {
    std::vector<HWND> all;
    WNDENUMPROC add = [](HWND w, LPARAM p) -> BOOL {
        reinterpret_cast<std::vector<HWND>*>(p)->push_back(w);
        return TRUE;
    };
    if (parent)
        EnumChildWindows(parent, add, reinterpret_cast<LPARAM>(&all));
    else
        EnumWindows(add, reinterpret_cast<LPARAM>(&all));
    return all;
}

HWND findChild(HWND parent, const wchar_t* cls, const std::wstring& text) {
    for (HWND w : windowsOf(parent))
        if (_wcsicmp(className(w).c_str(), cls) == 0 && (text.empty() || windowText(w) == text))
            return w;
    return nullptr;
}

// The Console's main window once it is visible and its tab strip exists.
HWND mainWindow(const Args& a, int timeoutMs) {
    std::wstring cls = arg(a, L"--class", kConsoleClass);
    HWND w = nullptr;
    bool shown = poll(timeoutMs, [&] {
        w = FindWindowW(cls.c_str(), nullptr);
        return w && IsWindowVisible(w) && (cls != kConsoleClass || findChild(w, WC_TABCONTROLW, L""));
    });
    return shown ? w : nullptr;
}

DWORD processOf(HWND w) {
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    return pid;
}

// The texts of a box's static controls on one line: "|" between them, "\n" for a line break.
std::wstring staticTexts(HWND box) {
    std::wstring all;
    for (HWND w : windowsOf(box)) {
        std::wstring t = _wcsicmp(className(w).c_str(), L"Static") == 0 ? windowText(w) : L"";
        if (!t.empty() && !all.empty())
            all += L"|";
        for (wchar_t c : t)
            all += c == L'\n' ? L"\\n" : c == L'\r' ? L"" : std::wstring(1, c);
    }
    return all;
}

// A visible dialog-class window of the given process; title empty: any
// except the program's named dialogs (a message box).
HWND findDialog(DWORD pid, const std::wstring& title) {
    for (HWND w : windowsOf(nullptr)) {
        std::wstring t;
        if (className(w) != L"#32770" || !IsWindowVisible(w) || (pid && processOf(w) != pid) ||
            !readWindowText(w, &t))
            continue;
        // a message box: any other dialog of the process that shows a text
        bool named = t == L"IP 入力画面" || t == L"出力項目" || t == L"ファイルを保存";
        if (title.empty() ? !named && !staticTexts(w).empty() : t == title)
            return w;
    }
    return nullptr;
}

// Tab texts of a tab control in another process: the item record and its text
// buffer must live in that process.
bool readTabs(HWND tab, std::vector<std::wstring>* texts) {
    int count = static_cast<int>(SendMessageW(tab, TCM_GETITEMCOUNT, 0, 0));
    HANDLE proc =
        OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, processOf(tab));
    if (!proc)
        return false;
    const SIZE_T textChars = 260;
    SIZE_T size = sizeof(TCITEMW) + textChars * sizeof(wchar_t);
    char* remote = static_cast<char*>(VirtualAllocEx(proc, nullptr, size, MEM_COMMIT, PAGE_READWRITE));
    bool ok = remote != nullptr;
    for (int i = 0; ok && i < count; ++i) {
        TCITEMW item{};
        item.mask = TCIF_TEXT;
        item.pszText = reinterpret_cast<LPWSTR>(remote + sizeof(TCITEMW));
        item.cchTextMax = textChars;
        ok = WriteProcessMemory(proc, remote, &item, sizeof item, nullptr);
        if (!ok)
            break;
        SendMessageW(tab, TCM_GETITEMW, i, reinterpret_cast<LPARAM>(remote));
        TCITEMW back{};
        std::vector<wchar_t> text(textChars, 0);
        ok = ReadProcessMemory(proc, remote, &back, sizeof back, nullptr);
        if (!ok)
            break;
        // The control may point pszText at its own copy.
        ok = ReadProcessMemory(proc, back.pszText, text.data(), (textChars - 1) * sizeof(wchar_t), nullptr);
        texts->push_back(text.data());
    }
    if (remote)
        VirtualFreeEx(proc, remote, 0, MEM_RELEASE);
    CloseHandle(proc);
    return ok;
}

// Client-area pixels of a window: the window's own DC first, the screen as fallback.
bool grabClient(HWND w, int* width, int* height, std::vector<uint32_t>* pixels) {
    RECT rc;
    GetClientRect(w, &rc);
    *width = rc.right;
    *height = rc.bottom;
    if (*width <= 0 || *height <= 0)
        return false;
    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = *width;
    bi.bmiHeader.biHeight = -*height;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HBITMAP dib = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(mem, dib);
    HDC src = GetDC(w);
    bool ok = BitBlt(mem, 0, 0, *width, *height, src, 0, 0, SRCCOPY);
    ReleaseDC(w, src);
    if (!ok) {
        POINT p{0, 0};
        ClientToScreen(w, &p);
        ok = BitBlt(mem, 0, 0, *width, *height, screen, p.x, p.y, SRCCOPY);
    }
    GdiFlush();
    if (ok) {
        const uint32_t* b = static_cast<const uint32_t*>(bits);
        pixels->assign(b, b + static_cast<size_t>(*width) * *height);
    }
    SelectObject(mem, old);
    DeleteObject(dib);
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
    return ok;
}

// ---- sub-commands ----

int cmdTitle(const Args& a, HWND w) {
    std::wstring want = arg(a, L"--contains");
    std::wstring equals = arg(a, L"--equals");
    bool hasEquals = a.count(L"--equals") > 0;
    std::wstring t;
    bool ok = poll(argInt(a, L"--wait", 0) * 1000, [&] {
        t = windowText(w);
        return hasEquals ? t == equals : t.find(want) != std::wstring::npos;
    });
    out(L"title=" + t);
    return ok ? 0 : 1;
}

int cmdTabs(const Args& a, HWND w) {
    HWND tab = findChild(w, WC_TABCONTROLW, L"");
    int wantCount = argInt(a, L"--count", -1);
    std::wstring wantFirst = arg(a, L"--first");
    std::vector<std::wstring> texts;
    bool ok = poll(argInt(a, L"--wait", 0) * 1000, [&] {
        texts.clear();
        if (!readTabs(tab, &texts))
            return false;
        return (wantCount < 0 || static_cast<int>(texts.size()) == wantCount) &&
               (wantFirst.empty() || (!texts.empty() && texts[0] == wantFirst));
    });
    out(L"count=" + std::to_wstring(texts.size()));
    for (size_t i = 0; i < texts.size(); ++i)
        out(L"tab" + std::to_wstring(i) + L"=" + texts[i]);
    return ok ? 0 : 1;
}

int cmdNoMsgbox(const Args& a, HWND w) {
    HWND box = findDialog(processOf(w), L"");
    out(box ? L"msgbox=" + windowText(box) + L": " + staticTexts(box) : L"msgbox=none");
    return box ? 1 : 0;
}

// Presses "IP 入力", fills dialog 139 with the address and presses 接続; then
// waits for the dialog to close and reports a failure message box if one came.
int cmdConnect(const Args& a, HWND w) {
    std::wstring address = arg(a, L"--address");
    std::wstring parts[4];
    int p = 0;
    for (wchar_t c : address) {
        if (c == L'.' && p < 3)
            ++p;
        else
            parts[p] += c;
    }
    DWORD pid = processOf(w);
    PostMessageW(findChild(w, L"Button", L"IP 入力"), BM_CLICK, 0, 0);
    HWND dlg = nullptr;
    if (!poll(10000, [&] { return (dlg = findDialog(pid, L"IP 入力画面")) != nullptr; })) {
        out(L"error=dialog 139 did not open");
        return 1;
    }
    // A missing control leaves the request unsent: the dialog stays open and the command fails.
    for (int i = 0; i < 4; ++i)
        SendDlgItemMessageW(dlg, 1031 + i, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(parts[i].c_str()));
    PostMessageW(GetDlgItem(dlg, 1011), BM_CLICK, 0, 0);
    HWND box = nullptr;
    bool closed = poll(argInt(a, L"--wait", 15) * 1000,
                       [&] { return (box = findDialog(pid, L"")) != nullptr || !IsWindow(dlg); });
    if (box) {
        out(L"result=failed");
        out(L"text=" + staticTexts(box));
        PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        poll(5000, [&] { return !IsWindow(dlg); });
        out(IsWindow(dlg) ? L"dialog=open" : L"dialog=closed");
        return 1;
    }
    out(closed ? L"result=sent" : L"result=dialog still open");
    return closed ? 0 : 1;
}

// Sets the CSV box to --state on or off, as a click would leave it.
int cmdCsvCheck(const Args& a, HWND w) {
    HWND box = findChild(w, L"Button", L"CSV 出力");
    if (!box) {
        out(L"error=no CSV check box");
        return 1;
    }
    WPARAM want = arg(a, L"--state") == L"on" ? BST_CHECKED : BST_UNCHECKED;
    SendMessageW(box, BM_SETCHECK, want, 0);
    LRESULT checked = SendMessageW(box, BM_GETCHECK, 0, 0);
    out(L"checked=" + std::to_wstring(checked));
    return checked == static_cast<LRESULT>(want) ? 0 : 1;
}

// The dialog of the Console's process with that title, once it shows.
HWND waitDialog(const Args& a, HWND w, const wchar_t* title) {
    DWORD pid = processOf(w);
    HWND dlg = nullptr;
    if (!poll(argInt(a, L"--timeout", 15) * 1000, [&] { return (dlg = findDialog(pid, title)) != nullptr; }))
        out(std::wstring(L"error=no dialog ") + title);
    return dlg;
}

int closes(HWND dlg, const wchar_t* result) {
    bool closed = poll(10000, [&] { return !IsWindow(dlg) || !IsWindowVisible(dlg); });
    out(closed ? std::wstring(L"result=") + result : L"result=dialog still open");
    return closed ? 0 : 1;
}

// Types a path into the save-file dialog and presses OK.
int cmdSaveDialog(const Args& a, HWND w) {
    HWND dlg = waitDialog(a, w, L"ファイルを保存");
    if (!dlg)
        return 1;
    HWND edit = GetDlgItem(dlg, 0x47C); // cmb13, explorer style
    if (!edit)
        edit = GetDlgItem(dlg, 0x480); // edt1
    if (!edit)
        edit = findChild(dlg, L"Edit", L"");
    if (!edit) {
        out(L"error=no file name box");
        return 1;
    }
    std::wstring path = arg(a, L"--path");
    SendMessageW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()));
    PostMessageW(dlg, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    return closes(dlg, L"saved");
}

// Dialog 138: presses "CSV出力" with the default choices.
int cmdCsvDialog(const Args& a, HWND w) {
    HWND dlg = waitDialog(a, w, L"出力項目");
    HWND press = dlg ? GetDlgItem(dlg, 1011) : nullptr;
    if (!press)
        return 1;
    PostMessageW(press, BM_CLICK, 0, 0);
    return closes(dlg, L"pressed");
}

// Colour statistics of a client rectangle (--rect x,y,w,h), or of the plot
// area inside the frame named --frame: non-white, reddish and bluish pixel
// counts and the number of distinct colours.
int cmdStats(const Args& a, HWND w) {
    std::vector<uint32_t> px;
    int width = 0, height = 0, x = 0, y = 0, rw = 0, rh = 0;
    if (!grabClient(w, &width, &height, &px)) {
        out(L"error=no pixels");
        return 1;
    }
    rw = width;
    rh = height;
    if (a.count(L"--rect"))
        swscanf(arg(a, L"--rect").c_str(), L"%d,%d,%d,%d", &x, &y, &rw, &rh);
    if (HWND frame = a.count(L"--frame") ? findChild(w, L"Button", arg(a, L"--frame")) : nullptr) {
        RECT r;
        GetWindowRect(frame, &r);
        MapWindowPoints(HWND_DESKTOP, w, reinterpret_cast<POINT*>(&r), 2);
        x = r.left + 8;
        y = r.top + 16;
        rw = r.right - r.left - 16;
        rh = r.bottom - r.top - 24;
    }
    if (x < 0 || y < 0 || rw <= 0 || rh <= 0 || x + rw > width || y + rh > height) {
        out(L"error=rectangle outside the client area " + std::to_wstring(width) + L"x" +
            std::to_wstring(height));
        return 1;
    }
    std::set<uint32_t> colours;
    int white = 0, reddish = 0, bluish = 0;
    for (int j = y; j < y + rh; ++j)
        for (int i = x; i < x + rw; ++i) {
            uint32_t c = px[static_cast<size_t>(j) * width + i] & 0xFFFFFF;
            colours.insert(c);
            white += c == 0xFFFFFF;
            uint32_t r = c >> 16 & 0xFF, g = c >> 8 & 0xFF, b = c & 0xFF;
            if (r >= 150 && g < 100 && b < 100)
                ++reddish;
            if (b >= 150 && r < 100 && g < 150)
                ++bluish;
        }
    out(L"rect=" + std::to_wstring(x) + L"," + std::to_wstring(y) + L"," + std::to_wstring(rw) + L"," +
        std::to_wstring(rh));
    out(L"nonwhite=" + std::to_wstring(rw * rh - white));
    out(L"colours=" + std::to_wstring(colours.size()));
    out(L"reddish=" + std::to_wstring(reddish));
    out(L"bluish=" + std::to_wstring(bluish));
    return 0;
}

int cmdResources(const Args& a, HWND w) {
    HANDLE proc = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processOf(w));
    if (!proc) {
        out(L"error=no process");
        return 1;
    }
    DWORD handles = 0;
    GetProcessHandleCount(proc, &handles);
    out(L"gdi=" + std::to_wstring(GetGuiResources(proc, GR_GDIOBJECTS)));
    out(L"user=" + std::to_wstring(GetGuiResources(proc, GR_USEROBJECTS)));
    out(L"handles=" + std::to_wstring(handles));
    CloseHandle(proc);
    return 0;
}

int cmdClose(const Args& a, HWND w) {
    PostMessageW(w, WM_CLOSE, 0, 0);
    bool gone = poll(argInt(a, L"--timeout", 10) * 1000, [&] { return !IsWindow(w); });
    out(gone ? L"closed=1" : L"closed=0");
    return gone ? 0 : 1;
}

struct Command {
    const wchar_t* name;
    int (*run)(const Args&, HWND);
} const kCommands[] = {
    {L"title", cmdTitle},          {L"tabs", cmdTabs},           {L"connect", cmdConnect},
    {L"no-msgbox", cmdNoMsgbox},   {L"csv-check", cmdCsvCheck},  {L"save-dialog", cmdSaveDialog},
    {L"csv-dialog", cmdCsvDialog}, {L"resources", cmdResources}, {L"stats", cmdStats},
    {L"close", cmdClose},
};

} // namespace

int wmain(int argc, wchar_t** argv) {
    _setmode(_fileno(stdout), _O_BINARY);
    std::list<std::wstring> decoded;
    // Arguments that are not ASCII come as "u8:" and the hex of their UTF-8
    // bytes: Wine's own conversion of the command line depends on the host's locales.
    for (int i = 1; i < argc; ++i) {
        std::wstring s = argv[i];
        if (s.rfind(L"u8:", 0) != 0)
            continue;
        std::string bytes;
        for (size_t k = 3; k + 1 < s.size(); k += 2)
            bytes += static_cast<char>(std::wcstoul(s.substr(k, 2).c_str(), nullptr, 16));
        int n = MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
        std::wstring wide(n, L'\0');
        MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), &wide[0], n);
        decoded.push_back(wide);
        argv[i] = &decoded.back()[0];
    }
    std::wstring cmd = argc > 1 ? argv[1] : L"";
    Args a;
    for (int i = 2; i < argc; ++i) {
        std::wstring s = argv[i];
        if (s.rfind(L"--", 0) != 0)
            continue;
        if (i + 1 >= argc)
            a[s] = L"1";
        else
            a[s] = argv[++i];
    }
    for (const Command& c : kCommands) {
        if (cmd != c.name)
            continue;
        // Every command works on the program's main window: the Console's unless --class names another.
        if (HWND w = mainWindow(a, argInt(a, L"--timeout", 10) * 1000))
            return c.run(a, w);
        out(L"error=no window");
        return 1;
    }
    out(L"usage: gl-uidriver COMMAND [--class C] [--option value ...]");
    return 2;
}
