#pragma once
// Starting the two kinds of worker: ControlRun (connect, log in, control cycles until the
// stop event) and ImportRun (one import job). At most one runs; a starting worker stops the
// running one through the shared events. The latest request wins: a start still waiting for
// its slot gives up when a newer start or a disconnect comes. The program's exit is final: once
// begun, no worker starts and the window waits, within bounds, for the ones that still run.
//
// Failures in the engine: a server call that fails throws TiError or ConversionError
// (engine/tiserver.h), and the code around the call (FailureOf) makes of it a line, a switch to
// monitoring or the end of the run. Whatever else escapes a run ends it with a last error line
// (WorkerRun::Guarded, engine/worker_run.h), never the program. The window learns of failures
// only as event lines and message boxes through the WindowLink.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>

#include "core/events.h"
#include "core/model.h"
#include "core/window_link.h"
#include "engine/regulator_lock.h"
#include "engine/tiserver.h"

namespace movra {

// What an import fetches: bits combined into StartImport's request.
enum ImportKind : int32_t {
    kImportUsers = 1,   // the user list
    kImportGroups = 2,  // every listed user's group and the groups' shares
};

class Workers {
  public:
    // Makes the thread of a worker; throws std::system_error when it cannot (a seam for tests).
    using ThreadStarter = std::function<std::thread(std::function<void()>)>;

    Workers(Model& model, WindowLink& window, TiConnector& connector, WorkerEvents& events,
            ThreadStarter starter = {});
    // Waits for the threads this object started.
    ~Workers();
    Workers(const Workers&) = delete;
    Workers& operator=(const Workers&) = delete;

    // The place every later control run takes before it connects (null: none), and what it
    // does when another program holds it. Set before the first start.
    void UseRegulator(RegulatorLock* lock, BusyRegulator busy);

    // Resets the stop event and starts a ControlRun; returns at once. Once the exit has
    // begun it starts nothing and returns false; so does a thread that cannot be made (with a
    // line in the log). The threads of workers that have ended are joined here.
    bool StartControl();
    // Resets the stop event and starts an ImportRun that fetches `request` (ImportKind bits);
    // returns at once, as StartControl does.
    bool StartImport(int32_t request);
    // Disconnect: every start still waiting for its slot gives up; then, unless no worker runs
    // within `ms` milliseconds, asks the running worker to stop and returns true (the caller
    // logs that it waits). Does not wait for the worker's end.
    bool Disconnect(uint32_t ms);

    // Whether a worker this object started is still in its run (exact, unlike a test of the
    // idle event, which would take the signal a starting worker is about to claim).
    bool Running() const;
    // Waits up to `ms` milliseconds for no worker to run; true when none runs.
    bool WaitUntilIdle(uint32_t ms) const;

    // Begins the exit: no worker starts from now on, and the running one is asked to stop.
    void BeginExit();
    bool Exiting() const;
    // Waits for every worker to end, calling `pump` between short waits (the window thread
    // keeps handling the messages a worker sends). Gives up when no worker has logged a line
    // for `quiet`, or after `limit` in all. True when every thread ended and was joined.
    bool WaitForExit(const std::function<void()>& pump, std::chrono::milliseconds quiet,
                     std::chrono::milliseconds limit);
    // Waits without a bound until every thread this object started has ended (tests).
    void JoinAll();
    // Threads started and not joined yet (tests).
    size_t ThreadsKept() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace movra
