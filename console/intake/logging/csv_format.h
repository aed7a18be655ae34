// The CSV log's lines and the values they share with the text console. Pure
// functions over slot snapshots, so the bytes can be checked without a file.
#pragma once
#include "console/intake/link/panel_state.h"
#include "console/intake/link/readings.h"
#include "console/intake/logging/csv_settings.h"

#include <cstdint>
#include <string>

// The twelve items in the order of the dialog, the columns and the console lines.
enum class CsvItem {
    GraphicsClock,
    MemoryClock,
    GpuLoad,
    MemoryUsage,
    VideoEngineLoad,
    Temperature,
    FanLevel,
    FanRpm,
    PowerDraw,
    PState,
    MemoryControllerLoad,
    BusInterfaceLoad,
};

struct CsvItemInfo {
    int checkBoxId;  // control id in dialog 138
    Reading reading; // its name heads the column
};
extern const CsvItemInfo kCsvItems[kCsvItemCount];

// The broken-down local time of one row.
struct LogTime {
    int year; // four digits, e.g. 2026
    int month;
    int day;
    int hour;
    int minute;
    int second;
};

// Which slots and items one logging run writes. gpuCount is the panel's count
// as read for this row; slots at or above it (or above 8) are never written.
struct LogSelection {
    int gpuCount = 0;
    bool gpuSelected[kGpuSlotCount] = {};
    bool itemSelected[kCsvItemCount] = {};
};

// Reads the choices of a dialog run and the panel's GPU count.
LogSelection readLogSelection(const CsvSettings& csv, int gpuCount);

int selectedItemCount(const LogSelection& selection);

// The number text of an item shared by the file and the console, without
// unit; "" where the log writes nothing (see LogBlank).
std::string logValueText(const PanelSlotSnapshot& slot, CsvItem item);

// "%d/%02d/%02d %02d:%02d:%02d" followed by the given terminator (',' in the
// file, ' ' on the console).
std::string timeStampText(const LogTime& time, char terminator);

// The two header lines appended when a run starts, each ending in CR LF.
// Names are code page 932. slots holds kGpuSlotCount snapshots.
std::string csvHeaderText(const PanelSlotSnapshot* slots, const LogSelection& selection);

// One data line ending in CR LF; with no GPU to write only the line end.
std::string csvDataLine(const PanelSlotSnapshot* slots, const LogSelection& selection, const LogTime& time);
