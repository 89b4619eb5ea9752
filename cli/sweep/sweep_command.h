// tarnelctl sweep: the sweep's command line read into a SweepCommand, and
// the run: the plan checked, every row out as its point is done, the summary,
// the plot, then one line for each failure, the one that decides the exit
// status last.
#pragma once

#include "command_line/command_line.h"
#include "command_line/option_reader.h"

namespace tarnel::cli {

SweepCommand ParseSweepCommand(const OptionReader& args, const GlobalOptions& options);
void RunSweepCommand(const GlobalOptions& options, const SweepCommand& command);

}  // namespace tarnel::cli
