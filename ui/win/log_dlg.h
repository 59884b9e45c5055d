#pragma once
// CLogDlg: the modal log window "Статистика" that shows the log file newest line first.
#include <windows.h>

#include "core/text.h"
#include "core/window_link.h"

namespace movra {

// Opens the log file and runs the log window on it; when the file cannot be opened, shows
// "Ошибка открытия файла <name>" through `messages` instead.
void ShowLogFile(HINSTANCE inst, HWND owner, const Text& logFileName, MessagePort& messages);

}  // namespace movra
