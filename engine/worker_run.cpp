#include "engine/worker_run.h"

#include "core/log_flags.h"

namespace movra {

bool ClaimWorkerSlot(WorkerEvents& events, WindowLink& window, const Text& doneLine,
                     uint64_t ticket) {
    const WorkerEvents::Claim claim = events.TryClaim(ticket);
    if (claim == WorkerEvents::Claim::kSuperseded) return false;
    if (claim == WorkerEvents::Claim::kBusy) {
        window.LogLine(LOG_INFO, u"Жду завершения потока...");
        if (!events.idle.WaitUnless([&] { return events.Superseded(ticket); })) return false;
        if (events.Superseded(ticket)) {
            events.idle.Set();  // the slot goes to the newer start
            return false;
        }
        window.LogLine(LOG_DONE, doneLine);
    }
    events.idle.Reset();
    events.stop.Reset();
    // A request that came while the slot was taken (the exit, a disconnect, a newer start)
    // had its stop request erased just now: give the slot back instead of running.
    if (events.Superseded(ticket)) {
        events.idle.Set();
        return false;
    }
    return true;
}

bool WorkerRun::Claim(const Text& doneLine) {
    claimed_ = ClaimWorkerSlot(events_, ctx_.window, doneLine, ticket_);
    return claimed_;
}

void WorkerRun::Finish() {
    if (!finished_) Ending();
    if (claimed_ && !finished_) events_.idle.Set();
    finished_ = true;
    ctx_.server.reset();
}

void WorkerRun::Fail(FailureLine line, const char* what) {
    if (!finished_) {
        try {
            ctx_.window.LogLine(LOG_FATAL, line(what));
        } catch (...) {
        }
    }
    Finish();
}

}  // namespace movra
