// What tarnelctl --help prints: the commands, options, output formats and
// exit statuses.
#pragma once

#include <string>

namespace tarnel::cli {

std::string HelpText();

}  // namespace tarnel::cli
