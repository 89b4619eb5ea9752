// The "++" GPIB adapters' framing, written once for the client and the
// emulated adapter: a line from the host that starts with "++" is a command
// to the adapter; any other line is data for the instrument. Inside data, the
// bytes CR, LF, ESC and '+' are sent with ESC before them; the unescaped line
// end ends the data.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tarnel::scpi::client::gpib {

inline constexpr char kEscape = 0x1B;
inline constexpr unsigned kLeastReadTimeoutMs = 1;
inline constexpr unsigned kMostReadTimeoutMs = 3000;
inline constexpr unsigned kHighestAddress = 30;

// data with ESC before each CR, LF, ESC and '+'.
std::string Escaped(std::string_view data);
// The bytes data stands for: each ESC dropped and the byte after it kept as it is
// (a lone ESC at the end is dropped).
std::string Unescaped(std::string_view data);

}  // namespace tarnel::scpi::client::gpib
