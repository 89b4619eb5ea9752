// tarnelctl scan: the boards the library finds, each with whether its
// firmware runs; exit 3 when there is none.
#pragma once

#include "command_line/command_line.h"
#include "command_line/option_reader.h"

namespace tarnel::cli {

ScanCommand ParseScanCommand(const OptionReader& args, const GlobalOptions& options);
void RunScanCommand(const GlobalOptions& options, const ScanCommand& command);

}  // namespace tarnel::cli
