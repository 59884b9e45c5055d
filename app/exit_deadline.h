#pragma once
// The program's exit, once begun, is bounded whatever the server does: a COM call has no
// time-out, so a worker stuck in one must not keep the process alive. This decides when the
// exit may still wait and when the process must end; the window only wires it to a timer,
// the tray tip and the process's end.
#include <cstdint>
#include <functional>

#include "core/text.h"

namespace movra {

// The tray tip from the moment the exit begins until the process ends.
inline const Text kExitTrayTip = u"Movra: завершение работы...";
// The whole exit, from its first request to the end of the process.
constexpr int64_t kExitBoundMs = 60000;
// At the end of the Windows session: the exit action runs first and everything else after;
// the session is held no longer than this from its end's first notice.
constexpr int64_t kSessionEndBoundMs = 20000;

// Milliseconds of a clock that never steps back (not the wall clock, which the administrator
// or the time service may move during the exit).
using MonotonicMs = std::function<int64_t()>;
MonotonicMs SteadyMs();

class ExitDeadline {
  public:
    enum class Step {
        kWait,        // the exit goes on: the workers still have time
        kEndProcess,  // end the process now
    };

    explicit ExitDeadline(MonotonicMs now);

    // Exit was chosen. The first request starts the bound and lets the exit wait; any later
    // one ends the process at once.
    Step Request();
    // The session ends: the exit begins (if it has not) and is bounded by the shorter session
    // bound from now, unless its own bound comes sooner.
    void SessionEnds();
    bool Begun() const { return begun_; }
    bool SessionEnding() const { return sessionEnding_; }
    // kEndProcess once the bound has passed; kWait before it and while no exit has begun.
    Step Check() const;
    // What is left of the bound (0 once passed; the whole bound while no exit has begun).
    int64_t RemainingMs() const;

  private:
    void Begin(int64_t boundMs);
    MonotonicMs now_;
    bool begun_ = false;
    bool sessionEnding_ = false;
    int64_t deadline_ = 0;
};

}  // namespace movra
