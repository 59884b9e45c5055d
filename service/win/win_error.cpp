// One-line output and the errors of MovraService's commands.
#include <string>

#include "service/win/win_text.h"

namespace movra::service {

void WriteLine(DWORD stdHandle, const Text& text) {
    HANDLE out = GetStdHandle(stdHandle);
    if (out == nullptr || out == INVALID_HANDLE_VALUE) return;
    DWORD mode = 0;
    DWORD done = 0;
    if (GetConsoleMode(out, &mode)) {
        const Text line = text + u"\r\n";
        WriteConsoleW(out, W(line), static_cast<DWORD>(line.size()), &done, nullptr);
        return;
    }
    const std::string line = ToUtf8(text) + "\n";
    WriteFile(out, line.data(), static_cast<DWORD>(line.size()), &done, nullptr);
}

void ThrowLastError(const Text& what) {
    ThrowError(what, GetLastError());
}

void ThrowError(const Text& what, DWORD code) {
    throw CommandError{what, code};
}

Text SystemReason(DWORD code) {
    wchar_t* buffer = nullptr;
    const DWORD n = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    Text reason = n ? FromWide(buffer) : Text();
    if (buffer) LocalFree(buffer);
    // The system's texts end with a line break and may hold more inside.
    for (char16_t& c : reason) {
        if (c == u'\r' || c == u'\n') c = u' ';
    }
    reason = TrimBlanks(reason);
    const Text number = FromUtf8(std::to_string(code));
    return reason.empty() ? u"код " + number : reason + u" (код " + number + u")";
}

Text ErrorLine(const CommandError& error) {
    Text line = u"MovraService: " + error.what;
    if (error.code != 0) line += u": " + SystemReason(error.code);
    return line;
}

}  // namespace movra::service
