#pragma once

// Ctrl-C and termination requests: the first one asks the running command to stop at its next
// progress step (so temporary files are removed); a second one ends the process at once.
namespace Interruption {

void install();
bool requested();
// Throws CliError with the cancellation sentence when a stop was requested.
void throwIfRequested();

} // namespace Interruption
