// tarnelctl meters [--identify]: the meters connected to this host, each as
// the resource characterize --meter and meter take.
#pragma once

#include "command_line/command_line.h"

namespace tarnel::cli {

void ListMeters(const GlobalOptions& options, const MetersCommand& command);

}  // namespace tarnel::cli
