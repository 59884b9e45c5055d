#pragma once
// One control run on a worker thread, in pieces that the thread and the tests drive alike:
// ClaimSlot, Start, then RunCycle/Pause until the stop event, then Stop.
#include <cstdint>

#include "core/events.h"
#include "engine/regulator_lock.h"
#include "engine/worker_run.h"

namespace movra {

// A distinct number for every run of the program (never 0).
uint64_t NextRunNumber();

class ControlRun : public WorkerRun {
  public:
    // `ticket` orders this start among the requests (WorkerEvents::TakeTicket); 0 for a run
    // that only the exit stops from starting.
    ControlRun(Model& model, WindowLink& window, TiConnector& connector, WorkerEvents& events,
               uint64_t ticket = 0);
    ~ControlRun();

    // The machine's one-regulator place and what to do when it is taken (none: not checked).
    void UseRegulator(RegulatorLock* lock, BusyRegulator busy) {
        lock_ = lock;
        busy_ = busy;
    }

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

    bool connected() const { return ctx_.server != nullptr; }

  private:
    void Announce();
    void EndAfterPollFailure(const Text& key);
    // Takes the regulator place before connecting; false (the run ended) when it is taken.
    bool HoldRegulator();
    // Gives the place back before the idle signal, so the next run finds it free.
    void Ending() override;

    TiConnector& connector_;
    RegulatorLock* lock_ = nullptr;
    BusyRegulator busy_ = BusyRegulator::kRefuse;
    bool holding_ = false;
};

}  // namespace movra
