// Ctrl-C (SIGINT) or SIGTERM while a command runs: the first one asks the
// command to stop after its current step; a second one ends the program at
// once, as it normally would.
#pragma once

#include <chrono>
#include <functional>

namespace tarnel::cli {

// Installs the handlers; call once, before the work starts.
void CatchStopSignals();

// The signal that asked for a stop, or 0.
int StopSignal();

// Waits until the given time, or less when stopRequested says yes (asked at
// least every 50 ms, so a stop never waits for a long interval to pass).
void WaitForStop(std::chrono::steady_clock::time_point until, const std::function<bool()>& stopRequested);

}  // namespace tarnel::cli
