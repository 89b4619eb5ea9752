// tarnelctl serve: the board as a SCPI instrument on TCP, until SIGTERM or
// SIGINT. The board is opened as every tarnelctl command opens it before the
// server listens; nothing is written to the DAC at start.
#pragma once

#include "command_line/command_failure.h"
#include "command_line/command_line.h"
#include "command_line/option_reader.h"

namespace tarnel::cli {

// Returns ExitStatus::Done after a signal; a board that cannot be opened, or
// an address that cannot be listened on, throws CommandFailure.
ExitStatus Serve(const GlobalOptions& options, const ServeCommand& command);

// The command line of serve; --json is refused (serve prints nothing on stdout).
ServeCommand ParseServeCommand(const OptionReader& args, const GlobalOptions& options);
void RunServeCommand(const GlobalOptions& options, const ServeCommand& command);

}  // namespace tarnel::cli
