// Ctrl-C (SIGINT) or SIGTERM while a command runs: the first one asks the
// command to stop after its current step; a second one ends the program at
// once, as it normally would.
#pragma once

namespace tarnel::cli {

// Installs the handlers; call once, before the work starts.
void CatchStopSignals();

// The signal that asked for a stop, or 0.
int StopSignal();

}  // namespace tarnel::cli
