#pragma once
// Text (UTF-16) at the Win32 edge of MovraService.exe, and its one-line output.
#include <windows.h>

#include "core/text.h"

namespace movra::service {

inline const wchar_t* W(const Text& t) {
    return reinterpret_cast<const wchar_t*>(t.c_str());
}
inline Text FromWide(const wchar_t* s) {
    return Text(reinterpret_cast<const char16_t*>(s));
}

// Writes `text` and a line end to the standard output or error (STD_OUTPUT_HANDLE,
// STD_ERROR_HANDLE): as wide text to a console, as UTF-8 to a file or pipe.
void WriteLine(DWORD stdHandle, const Text& text);

// A command's failure: what failed and the system's code (0: no system reason).
struct CommandError {
    Text what;
    DWORD code = 0;
};
[[noreturn]] void ThrowLastError(const Text& what);
[[noreturn]] void ThrowError(const Text& what, DWORD code);

// The system's text for `code` on one line, with the code itself.
Text SystemReason(DWORD code);
// "MovraService: <what failed>: <the system's reason>".
Text ErrorLine(const CommandError& error);

}  // namespace movra::service
