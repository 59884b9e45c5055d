#pragma once
// `run`: the service's host in the console, every line echoed to stdout.

namespace movra::service {

// Runs until Ctrl+C, Ctrl+Break or the console's closing has run the exit. Throws CommandError
// when the data folder cannot be entered.
void RunInConsole();

}  // namespace movra::service
