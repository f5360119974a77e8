#pragma once
// SIGINT, SIGTERM and SIGHUP stop the command's run instead of ending the process where it
// stands. The signals are blocked in every thread from the start of main, so that neither
// their default action nor the handlers the Firebird client library installs for itself (which
// shut its connections down under the run) ever run; one watcher thread takes them with
// sigwait and asks the run to stop.
#include "Corvane.Cancellation.h"

namespace Corvane::Cli {

// First thing in main, before any other thread exists: threads inherit the blocked set.
void BlockStopSignals();
// Starts the watcher. The first signal requests aStop; a second one ends the process at once
// (the server rolls back what the connection left), unless a commit is running, which it lets
// finish.
void WatchStopSignals(const TCancellationPtr& aStop);
// The first stop signal received, 0 for none.
int StopSignal();

}  // namespace Corvane::Cli
