#pragma once
// "Сохранить CSV...": where the chart's file goes and how a failure to write it is reported.
#include <windows.h>

#include <functional>
#include <string>

#include "core/text.h"

namespace movra {

// Writes the CSV bytes to the path; false with the message to show when it failed.
using ChartCsvWriter = std::function<bool(const std::string& bytes, const Text& path, Text& error)>;

// Asks for the file in the system's save dialog, "channel.csv" offered; empty when cancelled.
Text AskChartCsvPath(HWND owner);

// Writes `bytes` to `path` through `write`; a failure is shown in a box over `owner`.
bool SaveCsvOrReport(HWND owner, const std::string& bytes, const Text& path,
                     const ChartCsvWriter& write);

}  // namespace movra
