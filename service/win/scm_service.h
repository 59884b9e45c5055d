#pragma once
// The service as the service control manager starts it.

namespace movra::service {

// Connects the process to the service control manager and runs the service until it has
// stopped; false when the process was not started as a service (run from a console).
// Throws CommandError on any other failure.
bool RunServiceDispatcher();

}  // namespace movra::service
