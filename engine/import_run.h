#pragma once
// One import run on a worker thread: connect, log in, fetch the users or the groups, end. Once the
// program's exit has begun the jobs stop after the server call they are in and the run ends
// with its usual last line, so that it never outlives the program.
#include <cstdint>

#include "core/events.h"
#include "engine/worker_run.h"

namespace movra {

class ImportRun : public WorkerRun {
  public:
    // `request` is what the run fetches (ImportKind bits). `ticket` orders this start among the
    // requests (WorkerEvents::TakeTicket); 0 for a run that only the exit stops from starting.
    ImportRun(Model& model, WindowLink& window, TiConnector& connector, WorkerEvents& events,
              int32_t request, uint64_t ticket = 0);

    // The whole run; 1 when it went through, -1 when connecting, logging in or fetching the
    // user list failed (or an unexpected failure ended it).
    int Run();

  private:
    int RunJobs();
    bool UsersJob();
    void GroupsJob();
    int End(int code);

    TiConnector& connector_;
    const int32_t request_;
};

}  // namespace movra
