#include "agent/windows/command_line_win.h"

#include <windows.h>

#include <shellapi.h>

bool utf8Arguments(const wchar_t* commandLine, std::vector<std::string>* out) {
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(commandLine, &argc);
    if (!argv)
        return false;
    out->clear();
    for (int i = 1; i < argc; ++i) {
        int bytes = WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, nullptr, 0, nullptr, nullptr);
        std::string text(bytes > 0 ? static_cast<size_t>(bytes) : 1, '\0');
        if (bytes > 0)
            WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, &text[0], bytes, nullptr, nullptr);
        text.resize(text.size() - 1);
        out->push_back(text);
    }
    LocalFree(argv);
    return true;
}
