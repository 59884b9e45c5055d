#include "engine/worker_run.h"

#include "core/log_flags.h"

namespace movra {

bool ClaimWorkerSlot(WorkerEvents& events, WindowLink& window, const Text& doneLine) {
    if (events.Quitting()) return false;
    if (!events.idle.Wait(0)) {
        events.stop.Set();
        window.LogLine(LOG_INFO, u"Жду завершения потока...");
        events.idle.Wait(AutoResetEvent::kInfinite);
        if (events.Quitting()) {
            events.idle.Set();  // another waiter gives up the same way
            return false;
        }
        window.LogLine(LOG_DONE, doneLine);
    }
    events.idle.Reset();
    events.stop.Reset();
    // An exit that began while the slot was taken had its stop request erased just now.
    if (events.Quitting()) {
        events.idle.Set();
        return false;
    }
    return true;
}

bool WorkerRun::Claim(const Text& doneLine) {
    claimed_ = ClaimWorkerSlot(events_, ctx_.window, doneLine);
    return claimed_;
}

void WorkerRun::Finish() {
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
