#include "output/stderr_lines.h"

#include <unistd.h>

#include "posix_io/write_all.h"

namespace tarnel::cli {

void PrintStderrLine(const std::string& line) { posix_io::WriteAll(STDERR_FILENO, line + "\n"); }

}  // namespace tarnel::cli
