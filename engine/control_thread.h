#pragma once
// One run of ControlThread, in pieces that the thread and the tests drive alike:
// ClaimSlot, Start, then RunCycle/Pause until the stop event, then Stop.
#include <cstdint>

#include "core/events.h"
#include "engine/run_context.h"

namespace movra {

// Takes the worker slot: claims the idle event without waiting, or asks the running worker to
// stop, logs "Жду завершения потока...", waits for it without limit and logs `doneLine` with
// LOG_DONE. Then resets both events. Once the exit has begun it gives up without a line and
// returns false (a slot it took is handed on).
bool ClaimWorkerSlot(WorkerEvents& events, WindowLink& window, const Text& doneLine);

// A distinct number for every run of the program (never 0).
uint64_t NextRunNumber();

class ControlRun {
  public:
    ControlRun(Model& model, WindowLink& window, TiConnector& connector, WorkerEvents& events);
    ControlRun(const ControlRun&) = delete;
    ControlRun& operator=(const ControlRun&) = delete;

    // False when the exit began first: the run then ends without a line.
    bool ClaimSlot();
    // Connects and logs in. False when the run has already ended (its last line logged and
    // the idle event signalled).
    bool Start();
    // One cycle without the pause. False when the run ended inside it.
    bool RunCycle();
    // The pause between cycles: true when the stop event was seen.
    bool Pause();
    // The normal end: exit action, last line, idle event, object released.
    void Stop();
    // The whole run as the thread makes it. An unexpected failure ends it with an error line.
    void Run();

    RunContext& context() { return ctx_; }
    bool connected() const { return ctx_.server != nullptr; }

  private:
    void Announce();
    void EndAfterPollFailure(const Text& key);
    void Finish();  // idle event once, object released
    void Fail(const char* what);

    RunContext ctx_;
    TiConnector& connector_;
    WorkerEvents& events_;
    bool claimed_ = false;
    bool finished_ = false;
};

}  // namespace movra
