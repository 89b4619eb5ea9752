// tarnelctl serve: the board as a SCPI instrument on TCP, until SIGTERM or
// SIGINT. The board is opened as every tarnelctl command opens it before the
// server listens; nothing is written to the DAC at start.
#pragma once

#include "command_line/command_failure.h"
#include "command_line/command_line.h"

namespace tarnel::cli {

// Returns ExitStatus::Done after a signal; a board that cannot be opened, or
// an address that cannot be listened on, throws CommandFailure.
ExitStatus Serve(const GlobalOptions& options, const ServeCommand& command);

}  // namespace tarnel::cli
