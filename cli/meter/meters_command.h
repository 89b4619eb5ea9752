// tarnelctl meters [--identify]: the meters connected to this host, each as
// the resource characterize --meter and meter take.
#pragma once

#include "command_line/command_line.h"
#include "command_line/option_reader.h"

namespace tarnel::cli {

MetersCommand ParseMetersCommand(const OptionReader& args, const GlobalOptions& options);
void ListMeters(const GlobalOptions& options, const MetersCommand& command);

}  // namespace tarnel::cli
