// The bench meter failed once it was in use: it stopped answering within its
// timeout, dropped the connection, or answered something that is not a
// reading. Exit status 5, like a failed board transfer; the board itself is
// still there, so the run parks the DAC before it ends.
#pragma once

#include <string>

#include "cli/command_failure.h"

namespace tarnel::cli {

class MeterFailure : public CommandFailure {
public:
    explicit MeterFailure(const std::string& message) : CommandFailure(ExitStatus::TransferFailed, message) {}
};

}  // namespace tarnel::cli
