// Which DAC outputs tarnelctl writes: data words 0..3FFFF, voltages from 0 to
// full scale, and never an output above --vmax. The checks run before the
// board is touched; a refusal throws CommandFailure(OutOfRange).
#pragma once

#include <cstdint>
#include <optional>

#include <tarnel/board_protocol.h>

namespace tarnel::cli {

// The output a data word sets in a mode: its voltage in normal operation,
// 0 V powered down.
double SetVolts(std::uint32_t data, protocol::PowerDown mode);

// The data word, once it is known to fit the DAC and to keep the output at
// or below vmax in that mode.
std::uint32_t AllowedDataWord(std::uint64_t word, protocol::PowerDown mode, std::optional<double> vmax);

// The data word nearest to volts (0..full scale, at most vmax) whose output
// does not exceed vmax.
std::uint32_t DataWordForVolts(double volts, std::optional<double> vmax);

}  // namespace tarnel::cli
