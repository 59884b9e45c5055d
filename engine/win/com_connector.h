#pragma once
// The TI server reached through COM. Each worker thread connects through ComConnector, which
// enters the multithreaded apartment once for that thread and creates the server object on the
// named host; the TiServer it returns releases the object when it goes.
#include <memory>

#include "engine/tiserver.h"

namespace movra::com {
struct ITiServer;
}

namespace movra {

class ComConnector : public TiConnector {
  public:
    // Throws TiError with the creation status when anything but S_OK comes back.
    std::unique_ptr<TiServer> Connect(const Text& host) override;
};

// Enters the multithreaded apartment for the calling thread, once; it is never left, as the
// thread may still hold objects when it ends.
void EnterComApartment();

// Wraps an interface pointer the caller already holds (one reference passes to the result).
std::unique_ptr<TiServer> WrapTiServer(com::ITiServer* object);

}  // namespace movra
