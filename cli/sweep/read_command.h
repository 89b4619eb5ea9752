// tarnelctl read [--avg N] [--count N [--interval MS]]: the output read back
// once, or N readings logged over time as CSV rows (JSON: one object each).
#pragma once

#include "command_line/command_line.h"
#include "command_line/option_reader.h"

namespace tarnel::cli {

ReadCommand ParseReadCommand(const OptionReader& args, const GlobalOptions& options);
void RunReadCommand(const GlobalOptions& options, const ReadCommand& command);

}  // namespace tarnel::cli
