#pragma once
// CLogDlg: the modal log window "Статистика" that shows the log file newest line first.
#include <windows.h>

#include <functional>
#include <optional>
#include <vector>

#include "core/text.h"
#include "core/window_link.h"

namespace movra {

// Opens the log file and runs the log window on it; when the file cannot be opened, shows
// "Ошибка открытия файла <name>" through `messages` instead.
void ShowLogFile(HINSTANCE inst, HWND owner, const Text& logFileName, MessagePort& messages);

// A page of a log that another process reads (the service's), newest line first.
struct LogPageRead {
    std::vector<Text> lines;
    bool end = true;            // no older line is left
    std::optional<Text> error;  // shown instead of the window
};
// `restart`: from the newest line; otherwise the next `count` older lines.
using LogPager = std::function<LogPageRead(bool restart, uint32_t count)>;
// The same window over such pages.
void ShowLogPages(HINSTANCE inst, HWND owner, const LogPager& pager, MessagePort& messages);

}  // namespace movra
