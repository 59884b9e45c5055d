#pragma once
// What the control run and the import run share: the worker slot they claim, the single end of
// a run (the idle signal given once, the server object let go) and the catch-all that turns an
// unexpected failure into a last line instead of ending the program.
#include <cstdint>
#include <exception>

#include "core/events.h"
#include "engine/run_context.h"

namespace movra {

// Takes the worker slot: claims the idle event without waiting, or asks the running worker to
// stop, logs "Жду завершения потока...", waits for it without limit and logs `doneLine` with
// LOG_DONE. Then resets both events. Once the exit has begun, or a newer request has
// superseded `ticket` (WorkerEvents), it gives up without a further line and returns false (a
// slot it took is handed on).
bool ClaimWorkerSlot(WorkerEvents& events, WindowLink& window, const Text& doneLine,
                     uint64_t ticket = 0);

class WorkerRun {
  public:
    WorkerRun(const WorkerRun&) = delete;
    WorkerRun& operator=(const WorkerRun&) = delete;

    RunContext& context() { return ctx_; }

  protected:
    WorkerRun(Model& model, WindowLink& window, WorkerEvents& events, uint64_t ticket)
        : ctx_(model, window), events_(events), ticket_(ticket) {}
    ~WorkerRun() = default;

    // The fatal line of an unexpected failure, from the exception's text (nullptr when the
    // exception carries none).
    using FailureLine = Text (*)(const char* what);

    // ClaimWorkerSlot for this run; false when the exit began first.
    bool Claim(const Text& doneLine);
    // Ends the run: lets go of what the run holds (Ending), signals the idle event once (if
    // the slot was claimed), then releases the server object. Calling it again does nothing
    // more.
    void Finish();
    // What a run gives back before the next worker may start.
    virtual void Ending() {}
    bool finished() const { return finished_; }
    // Once the program's exit has begun a run stops after the server call it is in.
    bool Quitting() const { return events_.Quitting(); }

    // Runs `body`. An exception that escapes it ends the run with `line`'s fatal line (unless
    // the run had already ended, which then stays silent); false when that happened.
    template <class Body>
    bool Guarded(FailureLine line, Body&& body) {
        try {
            body();
            return true;
        } catch (const std::exception& e) {
            Fail(line, e.what());
        } catch (...) {
            Fail(line, nullptr);
        }
        return false;
    }

    RunContext ctx_;
    WorkerEvents& events_;

  private:
    void Fail(FailureLine line, const char* what);

    uint64_t ticket_;
    bool claimed_ = false;
    bool finished_ = false;
};

}  // namespace movra
