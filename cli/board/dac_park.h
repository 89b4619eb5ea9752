// Parking the DAC when a run ends: sweep --park and characterize --park leave
// the output at a chosen word however the run ended, unless the board has gone.
#pragma once

#include <cstdint>
#include <string>

#include <tarnel/board_protocol.h>

#include "board/board_connection.h"

namespace tarnel::cli {

// Leaves the DAC at word in mode, unless a transfer failed and the board has
// gone. Returns whether it was written; a failed write leaves its reason in
// failure.
bool ParkDac(BoardConnection& board, std::uint32_t word, protocol::PowerDown mode, bool afterFailedTransfer,
             std::string& failure);

}  // namespace tarnel::cli
