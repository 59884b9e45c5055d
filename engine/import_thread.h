#pragma once
// One run of ImportThread: connect, log in, fetch the users or the groups, end.
#include <cstdint>

#include "core/events.h"
#include "engine/run_context.h"

namespace movra {

class ImportRun {
  public:
    ImportRun(Model& model, WindowLink& window, TiConnector& connector, WorkerEvents& events);
    ImportRun(const ImportRun&) = delete;
    ImportRun& operator=(const ImportRun&) = delete;

    // The whole run; 1 when it went through, -1 when connecting, logging in or fetching the
    // user list failed (or an unexpected failure ended it).
    int Run();

  private:
    int RunJobs();
    bool UsersJob();
    void GroupsJob();
    int End(int code);
    // Once the program's exit has begun the run stops after the server call it is in, and ends
    // with its usual last line, so that it never outlives the program.
    bool Quitting() const { return events_.Quitting(); }

    RunContext ctx_;
    TiConnector& connector_;
    WorkerEvents& events_;
    bool claimed_ = false;
    bool finished_ = false;
};

}  // namespace movra
