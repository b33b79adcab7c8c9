#pragma once

class Cancellation;

// Ctrl-C, hang-up and termination requests. install() blocks these signals in every thread and
// watches for them on a thread of its own. The first asks the running command to stop through
// cancellation(); the command then removes its files and ends with exitStatus(). Should it not
// have ended within 150 ms (it is waiting on the keychain or on the device), or should a second
// signal come first, the watcher removes every scratch file itself and ends the process.
namespace Interruption {

// Call first thing, before any thread exists.
void install();
const Cancellation& cancellation();
// 128 + the number of the signal received.
int exitStatus();
// Tells the watcher the command is reporting its own end, so it need not speak for it.
void reporting();
// The command's work runs in child processes, which it ends on the first signal and waits for:
// the watcher then gives it up to 10 s before ending the process itself (a second signal still
// ends it at once).
void allowChildrenToEnd();

} // namespace Interruption
