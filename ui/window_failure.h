#pragma once
// What the windows do with a failure that reaches one of their procedures. The system's frames
// between the message loop and a procedure cannot carry a C++ exception, so none may leave a
// procedure: each runs its body through GuardProcedure (ui/win/win_util.h has one per kind of
// procedure), which logs the failure as an error line, like a worker's last line, and gives the
// message its neutral answer. The window and the program live on.
#include <exception>

#include "core/text.h"
#include "core/window_link.h"

namespace movra {

// "Внутренняя ошибка окна: <what>." from the exception's text; without one (nullptr),
// "Внутренняя ошибка окна.".
Text WindowFailureLine(const char* what);

// Where failures at procedures are logged: the main window while it exists; null drops them.
// Set and used on the window's thread, where every procedure runs.
void SetWindowFailureLink(WindowLink* link);

// Logs one failure through the link as a LOG_ERROR line. Never throws. A failure raised while
// one is being logged (the log's own procedure failing in turn) is dropped, so it cannot
// recurse.
void ReportWindowFailure(const char* what) noexcept;

// Runs `body` and returns its answer; when an exception escapes it, logs it and returns
// `neutral()` instead.
template <class Body, class Neutral>
auto GuardProcedure(Body&& body, Neutral&& neutral) noexcept -> decltype(body()) {
    try {
        return body();
    } catch (const std::exception& e) {
        ReportWindowFailure(e.what());
    } catch (...) {
        ReportWindowFailure(nullptr);
    }
    return neutral();
}

}  // namespace movra
