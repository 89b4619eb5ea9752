// tarnelctl volts V [--mode MODE]: writes the data word whose output is
// nearest to V, checked against full scale and --vmax first.
#pragma once

#include "command_line/command_line.h"
#include "command_line/option_reader.h"

namespace tarnel::cli {

VoltsCommand ParseVoltsCommand(const OptionReader& args, const GlobalOptions& options);
void RunVoltsCommand(const GlobalOptions& options, const VoltsCommand& command);

}  // namespace tarnel::cli
