// How a tarnelctl command ends, for the scripts that run it: one exit status
// per kind of outcome, and the failure that carries a status with the one line
// that names the cause and the fix.
#pragma once

#include <stdexcept>
#include <string>

namespace tarnel::cli {

enum class ExitStatus : int {
    Done = 0,
    Failed = 1,           // anything not listed below (a file that cannot be written, ...)
    Usage = 2,            // the command line is wrong
    Unreachable = 3,      // no board, no permission, no firmware, no board-access library
    OutOfRange = 4,       // a value outside the DAC's range or above --vmax: nothing written
    TransferFailed = 5,   // a USB transfer failed during the work (characterize: or the meter failed)
    LimitFailed = 6,      // characterize: a figure beyond its --limits
    Interrupted = 130,    // Ctrl-C (SIGINT); a stop by SIGTERM ends with 128 + 15
};

class CommandFailure : public std::runtime_error {
public:
    CommandFailure(ExitStatus status, const std::string& message) : std::runtime_error(message), status_(status) {}
    ExitStatus Status() const { return status_; }

private:
    ExitStatus status_;
};

}  // namespace tarnel::cli
