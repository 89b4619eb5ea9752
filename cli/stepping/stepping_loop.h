// The loop that steps the DAC through a list of codes, for every command that
// measures code by code (sweep, characterize): for each code one DAC write
// (the program's packing), the settling wait, then the command's own
// measurement of the step. It stops after the current step when asked to,
// and at the first failed board transfer, keeping every step finished
// before; any other failure goes on to the caller.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <tarnel/board_protocol.h>

#include "board/board_connection.h"

namespace tarnel::cli {

struct Step {
    std::uint32_t code = 0;
    std::uint32_t inputWord = 0;                    // the 24-bit word written
    std::chrono::steady_clock::time_point started;  // when the loop began

    // Seconds since the loop began.
    double Seconds() const;
};

struct SteppingEnd {
    enum class How { Completed, Stopped, TransferFailed };
    How how = How::Completed;
    std::size_t steps = 0;   // steps finished
    std::string failure;     // for TransferFailed: the one-line reason
};

// `measure` takes each step once its code is written and settled; a
// CommandFailure(TransferFailed) from it or from the write ends the loop.
SteppingEnd StepThroughCodes(BoardConnection& board, const std::vector<std::uint32_t>& codes,
                             protocol::PowerDown mode, double settleMs, const std::function<void(const Step&)>& measure,
                             const std::function<bool()>& stopRequested);

}  // namespace tarnel::cli
