#pragma once
// Starting the two kinds of worker: ControlThread (connect, log in, control cycles until the
// stop event) and ImportThread (one import job). At most one runs; a starting worker stops the
// running one through the shared events.
#include <cstdint>

#include "engine/events.h"
#include "engine/model.h"
#include "engine/tiserver.h"
#include "engine/window_link.h"

namespace movra {

class Workers {
  public:
    Workers(Model& model, WindowLink& window, TiConnector& connector, WorkerEvents& events);
    // Waits for the threads this object started.
    ~Workers();
    Workers(const Workers&) = delete;
    Workers& operator=(const Workers&) = delete;

    // Resets the stop event and starts ControlThread; returns at once.
    void StartControl();
    // ImportRequest := request (1 users, 2 groups), resets the stop event and starts
    // ImportThread; returns at once.
    void StartImport(int32_t request);
    // Waits until every thread this object started has ended (tests, shutdown).
    void JoinAll();

  private:
    struct Impl;
    Impl* impl_;
};

}  // namespace movra
