#include "console/intake/logging/logger.h"

#include "console/intake/logging/csv_path_check.h"

#include <cstdio>
#include <cstring>
#include <ctime>

namespace {

void snapshotAll(const GpuPanelState& panel, PanelSlotSnapshot* slots) {
    for (int i = 0; i < kGpuSlotCount; ++i)
        slots[i] = snapshotPanelSlot(panel, i);
}

// A NUL-terminated copy of at most kCsvPathBytes - 1 bytes.
void copyPath(const char* path, char* out) {
    std::strncpy(out, path, kCsvPathBytes - 1);
    out[kCsvPathBytes - 1] = '\0';
}

bool runIsCurrent(const LoggerConfig& links) {
    return links.csv->csvRun.load(std::memory_order_relaxed) == links.run;
}

} // namespace

LogTime currentLogTime() {
    std::time_t now = std::time(nullptr);
    std::tm parts{};
#ifdef _WIN32
    localtime_s(&parts, &now);
#else
    localtime_r(&now, &parts);
#endif
    return {parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec};
}

bool appendToFile(const char* path, const std::string& bytes) {
    std::FILE* file = std::fopen(path, "ab");
    if (!file)
        return false;
    const size_t written = std::fwrite(bytes.data(), 1, bytes.size(), file);
    const bool closed = std::fclose(file) == 0;
    return written == bytes.size() && closed;
}

LogRowOutcome writeLogRow(const LoggerConfig& links, const LoggerCallbacks& edges, const char* path) {
    if (links.uiReady->load(std::memory_order_relaxed) == 0)
        return LogRowOutcome::NotReady;
    const LogTime time = edges.localTime(edges.context);
    edges.printPieces(edges.context, consoleBlockStart(time));
    // A console print can block (a selection in the console window) for as
    // long as the operator likes; a newer run may have started meanwhile.
    if (!runIsCurrent(links))
        return LogRowOutcome::RunOver;

    char filePath[kCsvPathBytes];
    copyPath(path, filePath);
    std::FILE* file = std::fopen(filePath, "ab");
    if (!file) {
        edges.printPieces(edges.context, {consoleMissingFile(), consoleBlockEnd()});
        return LogRowOutcome::FileMissing;
    }
    PanelSlotSnapshot slots[kGpuSlotCount];
    snapshotAll(*links.panel, slots);
    const LogSelection selection = readLogSelection(*links.csv, usableGpuCount(*links.panel));
    const std::string line = csvDataLine(slots, selection, time);
    std::fwrite(line.data(), 1, line.size(), file);
    std::fclose(file);

    std::vector<ConsolePiece> pieces;
    for (int i = 0; i < selection.gpuCount; ++i) {
        if (!selection.gpuSelected[i])
            continue;
        std::vector<ConsolePiece> gpu = consoleGpuPieces(slots[i], selection.itemSelected);
        pieces.insert(pieces.end(), gpu.begin(), gpu.end());
    }
    pieces.push_back(consoleBlockEnd());
    edges.printPieces(edges.context, pieces);
    return LogRowOutcome::Written;
}

LoggerEnd runLogger(const LoggerConfig& links, const LoggerCallbacks& edges, const char* path) {
    char filePath[kCsvPathBytes];
    copyPath(path, filePath);
    if (csvPathHasSpace(filePath, kCsvPathBytes)) {
        // The box is unchecked before the flag is cleared, so the tick never
        // sees logging off with the box still on and starts a new run.
        edges.refusePath(edges.context);
        links.csv->csvLogging.store(0, std::memory_order_relaxed);
        return LoggerEnd::PathRefused;
    }

    PanelSlotSnapshot slots[kGpuSlotCount];
    snapshotAll(*links.panel, slots);
    const LogSelection selection = readLogSelection(*links.csv, usableGpuCount(*links.panel));
    // A file that cannot be opened now gets no header; the rows try again.
    appendToFile(filePath, csvHeaderText(slots, selection));

    if (!edges.attachConsole(edges.context))
        return LoggerEnd::ConsoleFailed;

    const LogWaitFlags flags{links.appRunning, &links.csv->csvLogging, &links.csv->csvRun, links.run};
    for (;;) {
        LogWaitOutcome outcome = LogWaitOutcome::RunOver;
        if (writeLogRow(links, edges, filePath) != LogRowOutcome::RunOver) {
            const uint32_t rowEnd = edges.clock.nowMs(edges.clock.context);
            const int32_t interval = links.csv->logIntervalMs.load(std::memory_order_relaxed);
            outcome = waitForNextRow(flags, interval, rowEnd, edges.clock);
        }
        if (outcome == LogWaitOutcome::RunOver) {
            edges.leaveConsole(edges.context);
            return LoggerEnd::RunOver;
        }
        if (outcome != LogWaitOutcome::RowDue) {
            edges.releaseConsole(edges.context);
            return outcome == LogWaitOutcome::AppEnded ? LoggerEnd::AppEnded : LoggerEnd::LoggingOff;
        }
    }
}

CheckBoxStep csvCheckBoxControl(CsvSettings& csv, const CsvStartCallbacks& edges) {
    const bool logging = csv.csvLogging.load(std::memory_order_relaxed) != 0;
    const bool checked = edges.isBoxChecked(edges.context);
    if (logging && !checked) {
        csv.csvLogging.store(0, std::memory_order_relaxed);
        return CheckBoxStep::Stopped;
    }
    if (logging || !checked)
        return CheckBoxStep::Unchanged;

    // The run number first: a thread that sees logging on again also sees
    // that its own run is over.
    const int32_t run = csv.csvRun.load(std::memory_order_relaxed) + 1;
    csv.csvRun.store(run, std::memory_order_relaxed);
    csv.csvLogging.store(1, std::memory_order_release);
    bool cancelled = !edges.chooseFile(edges.context, csv.csvPath);
    csv.csvPath[kCsvPathBytes - 1] = '\0';
    if (!cancelled) {
        csv.csvDialogCancelled.store(0, std::memory_order_relaxed);
        edges.chooseItems(edges.context);
        cancelled = csv.csvDialogCancelled.load(std::memory_order_relaxed) != 0;
    }
    if (cancelled) {
        edges.showCannotSave(edges.context);
        csv.csvLogging.store(0, std::memory_order_relaxed);
        edges.uncheckBox(edges.context);
        return CheckBoxStep::Cancelled;
    }
    edges.startLogger(edges.context, csv.csvPath, run);
    return CheckBoxStep::Started;
}
