// The evaluation board's SCPI commands: the instrument's command table for
// the engine, one row per command, each row calling the instrument.
//
// STATus:QUEStionable bits the board sets: bit 0 (VOLTage), an event, when a
// level is refused because it is above the limit; bit 9, a condition, while
// the board is missing (lost, and not yet opened again by a command).
#pragma once

#include <cstdint>

#include "scpi/command_table.h"
#include "scpi/instrument.h"

namespace tarnel::scpi {

inline constexpr std::uint16_t kQuestionableVoltage = 1u << 0;
inline constexpr std::uint16_t kQuestionableBoardMissing = 1u << 9;

// Volts in replies: six significant digits tell apart every DAC step
// (4.93 V / 2^18, about 19 uV) over the whole range.
inline constexpr int kVoltsDigits = 6;

// The table's handlers call instrument, which must outlive the table.
CommandTable BoardCommands(Instrument& instrument);

}  // namespace tarnel::scpi
