// The program's run-time error: raised where the program cannot go on with a
// command (arithmetic overflow, a path that does not fit, a board-access
// library that cannot be loaded). Only the Program DAC command catches it;
// anywhere else it reaches the one top-level report, which ends the program.
#pragma once

#include <stdexcept>
#include <string>

namespace tarnel {

class RunTimeError : public std::runtime_error {
public:
    explicit RunTimeError(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace tarnel
