#include "output/stdout_lines.h"

#include <cstdio>

namespace tarnel::cli {

void PrintStdoutLine(const std::string& line) {
    std::fputs((line + "\n").c_str(), stdout);
    std::fflush(stdout);
}

}  // namespace tarnel::cli
