#pragma once
// The commands for scripts and the installer: install, uninstall, start and stop the service
// "Movra". Each throws CommandError on failure and writes its one line of success to stdout.
#include <cstdint>

namespace movra::service {

// How long `start` waits for RUNNING, and `stop` (and `uninstall` of a running service) for
// STOPPED: the service's own stop is bounded by the exit's 60 s.
constexpr uint32_t kStartWaitMs = 60000;
constexpr uint32_t kStopWaitMs = 90000;

// Creates the service, or reconfigures an existing one (binary path, start type; the account
// an administrator gave it stays); registers the event source; creates the data folder or
// gives an existing one its ACL.
void InstallService();
// Stops the service if it runs, deletes it and the event source; keeps the data folder.
void UninstallService();
void StartTheService();
void StopTheService();

}  // namespace movra::service
