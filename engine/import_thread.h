#pragma once
// One run of ImportThread: connect, log in, fetch the users or the groups, end.
#include <cstdint>

#include "engine/events.h"
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

    RunContext ctx_;
    TiConnector& connector_;
    WorkerEvents& events_;
    bool claimed_ = false;
    bool finished_ = false;
};

}  // namespace movra
