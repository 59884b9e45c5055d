#include "ui/window_failure.h"

#include <atomic>

#include "core/log_flags.h"

namespace movra {

namespace {

std::atomic<WindowLink*> g_link{nullptr};
thread_local bool t_reporting = false;

}  // namespace

Text WindowFailureLine(const char* what) {
    if (!what) return u"Внутренняя ошибка окна.";
    return u"Внутренняя ошибка окна: " + FromUtf8(what) + u".";
}

void SetWindowFailureLink(WindowLink* link) {
    g_link.store(link);
}

void ReportWindowFailure(const char* what) noexcept {
    WindowLink* link = g_link.load();
    if (!link || t_reporting) return;
    t_reporting = true;
    try {
        link->LogLine(LOG_ERROR, WindowFailureLine(what));
    } catch (...) {
    }
    t_reporting = false;
}

}  // namespace movra
