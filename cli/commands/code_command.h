// tarnelctl code WORD [--mode MODE]: writes the data word, checked against
// the DAC's range and --vmax before the board is touched.
#pragma once

#include "command_line/command_line.h"
#include "command_line/option_reader.h"

namespace tarnel::cli {

CodeCommand ParseCodeCommand(const OptionReader& args, const GlobalOptions& options);
void RunCodeCommand(const GlobalOptions& options, const CodeCommand& command);

}  // namespace tarnel::cli
