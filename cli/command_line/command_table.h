// Runs one parsed tarnelctl command: checks its values, opens the board,
// does the work, prints the results (text or JSON) on stdout.
#pragma once

#include "command_line/command_failure.h"
#include "command_line/command_line.h"

namespace tarnel::cli {

// Returns ExitStatus::Done; every failure throws CommandFailure.
ExitStatus RunCommand(const Invocation& invocation);

}  // namespace tarnel::cli
