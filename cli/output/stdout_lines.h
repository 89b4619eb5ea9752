// A line of results on stdout, flushed at once, so that a script reading a
// pipe sees each line as it is made.
#pragma once

#include <string>

namespace tarnel::cli {

void PrintStdoutLine(const std::string& line);

}  // namespace tarnel::cli
