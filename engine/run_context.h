#pragma once
// What a worker run carries between its parts: the shared model, the window, the server object
// of this run and the run's own state.
#include <memory>

#include "engine/cycle.h"
#include "engine/model.h"
#include "engine/tiserver.h"
#include "engine/window_link.h"

namespace movra {

struct RunContext {
    RunContext(Model& m, WindowLink& w) : model(m), window(w) {}
    Model& model;
    WindowLink& window;
    std::unique_ptr<TiServer> server;  // set while connected
    RunState run;
};

}  // namespace movra
