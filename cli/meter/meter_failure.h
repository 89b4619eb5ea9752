// The bench meter failed once it was in use: it stopped answering within its
// timeout, dropped the connection, or answered something that is not a
// reading. Exit status 5, like a failed board transfer; the board itself is
// still there, so the run parks the DAC before it ends.
#pragma once

#include <string>

#include "command_line/command_failure.h"
#include "scpi/client/instrument_failure.h"

namespace tarnel::cli {

class MeterFailure : public CommandFailure {
public:
    explicit MeterFailure(const std::string& message) : CommandFailure(ExitStatus::TransferFailed, message) {}
};

// A failure of the meter's connection as the commands report it: one that
// kept the meter from ever answering ends with exit status 3 (the meter
// cannot be reached); any other is a MeterFailure.
[[noreturn]] void ThrowMeterFailure(const scpi::client::InstrumentFailure& failure);

}  // namespace tarnel::cli
