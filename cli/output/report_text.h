// tarnelctl's results as text, one "name value" pair after another, two
// spaces apart, so that scripts can split them and people can read them.
#pragma once

#include <cstdint>
#include <string>

#include <tarnel/board_protocol.h>

#include "board/board_connection.h"

namespace tarnel::cli {

// "board 0  firmware running"
std::string ScanLine(const ScannedBoard& board);
// "word 20000  mode normal  set_volts 2.465000"
std::string WrittenLine(std::uint32_t data, protocol::PowerDown mode);
// "code 2048  volts 2.465"; averaged, with "  std 0.500  min 2047  max 2049"
std::string ReadingLine(const Reading& reading);

}  // namespace tarnel::cli
