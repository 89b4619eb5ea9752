// tarnelctl's own lines on stderr, safe beside the library calls whose lines
// LibraryMessages holds: while such a call runs, file descriptor 2 points to
// the held lines, so a line another thread printed then would be taken for
// the library's. Each diversion holds a lock; a line printed meanwhile waits
// and goes out as the diversion ends, so no thread ever waits for a board
// request to print.
#pragma once

#include <string>

namespace tarnel::cli {

// Writes line and a line end to the process's stderr.
void PrintStderrLine(const std::string& line);

// Held for as long as stderr is diverted.
class StderrDiversionLock {
public:
    StderrDiversionLock();
    ~StderrDiversionLock();   // writes the lines that waited, then lets go
    StderrDiversionLock(const StderrDiversionLock&) = delete;
    StderrDiversionLock& operator=(const StderrDiversionLock&) = delete;
};

}  // namespace tarnel::cli
