#pragma once
// What a worker run carries between its parts: the shared model, the window, the server object
// of this run and the run's own state.
#include <memory>

#include "core/model.h"
#include "core/window_link.h"
#include "engine/cycle.h"
#include "engine/tiserver.h"

namespace movra {

class TiConnector;

struct RunContext {
    RunContext(Model& m, WindowLink& w) : model(m), window(w) {}
    Model& model;
    WindowLink& window;
    std::unique_ptr<TiServer> server;  // set while connected
    RunState run;
};

enum class ConnectResult { kConnected, kConnectFailed, kLoginFailed };

// Connects to the configured server and logs in, with the lines and message boxes that both
// workers show. `connectedFlags` are the flags of the "...OK" line after connecting (the control
// thread still shows the disconnected state there, the import the connected one). On a failure
// the caller ends its run: it signals the idle event and then releases the object.
ConnectResult ConnectAndLogIn(RunContext& ctx, TiConnector& connector, uint32_t connectedFlags);

}  // namespace movra
