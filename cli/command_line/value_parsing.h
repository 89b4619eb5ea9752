// Values as a user types them on the command line. Each parser returns
// nothing for text that is not such a value; whether a value is in range is
// decided by the caller.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include <tarnel/board_protocol.h>

namespace tarnel::cli {

// A data word in hex, as the window takes it: "3FFFF", "3ffff" or "0x3FFFF".
// Values beyond 32 bits come back as 2^32, so that they are refused as too
// large rather than as malformed.
std::optional<std::uint64_t> ParseHexWord(std::string_view text);

// A voltage: "2.5", "2.5V", "2500mV" (unit in any case). Finite values only.
std::optional<double> ParseVolts(std::string_view text);

// A non-negative whole number in decimal, or in hex with 0x.
std::optional<std::uint64_t> ParseCount(std::string_view text);

// A non-negative decimal number, fractions allowed ("0.5").
std::optional<double> ParseDecimal(std::string_view text);

// The power-down modes by their command-line names: normal, 1k, 100k, hiz.
std::optional<protocol::PowerDown> ParseMode(std::string_view text);
std::string_view ModeName(protocol::PowerDown mode);

}  // namespace tarnel::cli
