// tarnelctl's own lines on stderr, from any thread. Each line goes out in one
// write, so lines of different threads never mix; while a library call holds
// stderr (board/library_stderr.h) the line passes through unchanged.
#pragma once

#include <string>

namespace tarnel::cli {

// Writes line and a line end to the process's stderr.
void PrintStderrLine(const std::string& line);

}  // namespace tarnel::cli
