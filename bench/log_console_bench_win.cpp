// CPU time the text console's echo of one logged row costs: eight GPUs with
// every item, printed N times (default 100) into a console of its own.
// Prints figures; run under Wine or Windows.
#include "console/intake/logging/csv_format.h"
#include "console/intake/logging/log_console.h"
#include "console/intake/logging/log_console_block.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>

namespace {

double cpuMs() {
    FILETIME created, ended, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &ended, &kernel, &user);
    auto ms = [](FILETIME f) {
        return static_cast<double>((static_cast<unsigned long long>(f.dwHighDateTime) << 32) |
                                   f.dwLowDateTime) /
               10000.0;
    };
    return ms(kernel) + ms(user);
}

} // namespace

int main(int argc, char** argv) {
    int rows = argc > 1 ? std::atoi(argv[1]) : 100;
    PanelSlotSnapshot slots[kGpuSlotCount] = {};
    LogSelection selection;
    selection.gpuCount = kGpuSlotCount;
    for (int i = 0; i < kGpuSlotCount; ++i) {
        std::wcscpy(slots[i].fullName, L"Example GPU");
        slots[i].graphicsClock = 1500000 + 1000 * i;
        slots[i].memoryClock = 7000000;
        slots[i].temperature = 55 + i;
        slots[i].fanLevelSupported = slots[i].powerDrawSupported = 1;
        slots[i].fanRpm = 1500;
        slots[i].powerDraw = 120000;
        selection.gpuSelected[i] = true;
    }
    for (bool& item : selection.itemSelected)
        item = true;
    // The row's block as the logging thread prints it: time line, GPUs, closing line.
    std::vector<ConsolePiece> block = consoleBlockStart(LogTime{2026, 12, 7, 16, 18, 9});
    for (int i = 0; i < kGpuSlotCount; ++i) {
        std::vector<ConsolePiece> gpu = consoleGpuPieces(slots[i], selection.itemSelected);
        block.insert(block.end(), gpu.begin(), gpu.end());
    }
    block.push_back(consoleBlockEnd());

    FreeConsole();
    LogConsole console;
    if (!attachLogConsole(console)) {
        std::fprintf(stderr, "no console\n");
        return 1;
    }
    double before = cpuMs();
    DWORD start = GetTickCount();
    for (int i = 0; i < rows; ++i)
        printLogPieces(console, block);
    double cpu = cpuMs() - before;
    DWORD wall = GetTickCount() - start;
    releaseLogConsole(console);
    std::printf("%d rows of 8 GPUs, every item: %.2f ms CPU per row (%.1f ms in all), %.2f ms wall per row\n",
                rows, cpu / rows, cpu, static_cast<double>(wall) / rows);
    return 0;
}
