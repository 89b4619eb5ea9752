// One code's meter reading after its write: after the fixed --settle wait the
// first reading, or with --settle auto readings until two in a row agree by
// the settle rule (linearity/settle_rule.h), for at most the longest wait;
// the board's read-back is taken while the first reading integrates.
#pragma once

#include <chrono>
#include <optional>

#include "board/board_connection.h"
#include "characterize/characterize_command.h"
#include "meter/lab_dmm.h"

namespace tarnel::cli {

struct SettledReading {
    MeterReading reading;            // the one used: the later of the two that agreed, or the last taken
    double readCode = 0;             // the board's read-back code
    double settleMs = 0;             // from the write to the start of the reading used
    std::optional<bool> settled;     // automatic: whether two readings agreed in time
    std::chrono::steady_clock::time_point middle;   // halfway through the reading used
};

// `written`: when the code was written. Throws MeterFailure and the board's
// CommandFailure as the meter and the board do.
SettledReading TakeSettledReading(BoardConnection& board, LabDmm& meter, const SettleChoice& settle,
                                  std::chrono::steady_clock::time_point written);

}  // namespace tarnel::cli
