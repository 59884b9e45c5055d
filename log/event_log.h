#pragma once
// The event log of the main window, independent of Win32: one event line in, a description of
// what the window must show out. The window only renders what this decides: status field,
// event list, title, tray icon and tooltip, table refresh and the close of a pending exit.
//
// Failures in the log: nothing here throws on purpose. A log file that cannot be opened or
// written comes back as a result (LogFileResult), becomes an event line and switches that file
// off; the log reader answers a file it cannot open with Open's result.
#include <array>
#include <atomic>
#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

#include "core/clock.h"
#include "core/log_flags.h"
#include "core/model.h"
#include "core/text.h"
#include "log/color_index.h"

namespace movra {

// The three tray icons (the regulating one is also the window's own icon).
enum class TrayIcon { kRegulating, kMonitoring, kDisconnected };

// Classes of event lines: the color index each line keeps in the event list.
enum LogClassValue : int32_t {
    kLogClassError = 0,
    kLogClassWarning = 1,
    kLogClassLimit = 2,
    kLogClassInfo = 3,
};

// Class colors of the event list (error, warning, limit change, information).
extern const std::array<ColorPair, 4> kEventClassColors;

// The most characters a tray tooltip holds; longer texts are cut.
constexpr size_t kTrayTipMax = 127;

struct EventLine {
    Text text;
    int32_t cls = kLogClassInfo;
    bool operator==(const EventLine&) const = default;
};

// What one handled line asks of the window, to be applied in the order of the fields.
struct LogEffects {
    // Status field (control 1044): its new text, when set.
    std::optional<Text> status;

    // Event list: delete this many first (oldest) lines, then append `added` in order, giving
    // each line its class as color index, then select row `select` (-1: leave the selection).
    int32_t removedFromTop = 0;
    std::vector<EventLine> added;
    int32_t select = -1;

    // Window title, when set.
    std::optional<Text> title;
    // NIM_MODIFY of the tray icon with this icon and tooltip (already cut to 127 characters).
    bool modifyTray = false;
    TrayIcon icon = TrayIcon::kDisconnected;
    Text tooltip;
    // Redraw the user table.
    bool refreshTable = false;
    // Send WM_CLOSE to the main window: a pending exit completes. Last, since the window may be
    // gone afterwards.
    bool close = false;
};

// A line that an operation wants logged; the window routes it through OnLogLine.
struct LogRequest {
    uint32_t flags = 0;
    Text text;
    bool operator==(const LogRequest&) const = default;
};

// 0 error, 1 warning, 2 limit change, 3 anything else; LOG_ERROR wins over the rest.
int32_t LogClass(uint32_t flags);
// "dd.mm.yyyy h:mm:ss": the year in full, the hour unpadded.
Text LogTimestamp(const SystemTime& t);
// Cuts a tray tooltip to 127 characters, never leaving half of a surrogate pair at its end.
Text CutTrayTip(TextView text);

enum class LogFileResult { kWritten, kOpenFailed, kWriteFailed };

// Appends one line and CR LF to a log file, opening and closing it around the write. A new or
// empty file starts with the UTF-16LE byte-order mark; a file that begins with the UTF-8 mark
// is continued in UTF-8. kWriteFailed when the write or the close failed (a full disk).
LogFileResult AppendLogFileLine(const Text& fileName, TextView line);

class EventLog {
  public:
    // Reads LogFileName, LogMaxSize, Server and TrafficSpeedAutoControll from the model's
    // settings under its lock, and clears LogFileName there when the file cannot be opened or
    // written.
    EventLog(Model& model, const Clock& clock);

    // Handles one event line (WM_LOGLINE) on the window's thread. Never calls the window and
    // never holds the model's lock across the file write.
    LogEffects OnLogLine(uint32_t flags, TextView text);

    // Empties the log file (a new empty UTF-16 file with its byte-order mark) and returns the
    // line to log: LOG_INFO "<name> Очищен" or LOG_WARN "Ошибка очистки \"<name>".
    LogRequest ClearLogFile();

    // ConnState: the flags of the last line that carried LOG_CONNECTED or LOG_DISCONNECTED
    // without LOG_MODE; LOG_DISCONNECTED at first, EXIT_PENDING while an exit waits. Safe to
    // read from any thread.
    uint32_t ConnState() const { return connState_.load(); }
    void SetConnState(uint32_t state) { connState_.store(state); }
    // The exit command while a worker runs: the next state line closes the window.
    void SetExitPending() { SetConnState(EXIT_PENDING); }

    // What the window shows now (for a repaint or a re-created control).
    const std::deque<EventLine>& Lines() const { return lines_; }
    // The event list's color indexes, kept in step with Lines(): a trimmed line takes its
    // index along. Starts with kEventClassColors as its table.
    const ColorIndexStore& EventColors() const { return colors_; }
    ColorIndexStore& EventColors() { return colors_; }
    const Text& StatusText() const { return status_; }
    // Empty until the first state line.
    const Text& Title() const { return title_; }
    TrayIcon Icon() const { return icon_; }
    const Text& TrayTip() const { return tip_; }

  private:
    void AddLine(Text text, int32_t cls, LogEffects& fx);
    void ShowState(uint32_t mode, const Text& server, LogEffects& fx);

    Model& model_;
    const Clock& clock_;
    std::atomic<uint32_t> connState_{LOG_DISCONNECTED};
    std::deque<EventLine> lines_;
    ColorIndexStore colors_;
    Text status_;
    Text title_;
    TrayIcon icon_ = TrayIcon::kDisconnected;
    Text tip_ = u"Movra";
};

}  // namespace movra
