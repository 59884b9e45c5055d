#pragma once
// The synchronous calls that workers and the model make toward the main window.
// On Windows they are SendMessageW to LogWindow (or a modal message box); native tests record
// them. Nobody may hold the model's lock while calling any of these.
#include <cstdint>

#include "core/cycle_summary.h"
#include "core/text.h"

namespace movra {

// Modal messages with an OK button (file errors, validation, worker failures).
class MessagePort {
  public:
    virtual ~MessagePort() = default;
    // Returns when the message is closed.
    virtual void ShowMessage(const Text& text) = 0;
};

class WindowLink : public MessagePort {
  public:
    // WM_LOGLINE: one event line with its flags.
    virtual void LogLine(uint32_t flags, const Text& text) = 0;
    // WM_REFRESHTABLE: redraw the user table.
    virtual void RefreshTable() = 0;
    // WM_USERSCHANGED: the number of monitored users changed.
    virtual void UsersChanged() = 0;
    // WM_CYCLESUMMARY: one control cycle's figures for the channel chart. Links that keep no
    // chart ignore it.
    virtual void CycleSummaryReady(const CycleSummary& summary) { (void)summary; }
};

}  // namespace movra
