// The baud rates a Linux serial line is set to by name (termios B50 ...
// B4000000), written once for the client's ports, the connection options and
// the emulated lines.
#pragma once

#include <termios.h>

#include <optional>

namespace tarnel::scpi::client {

// The termios speed of a baud rate; nothing for a rate that has none.
std::optional<speed_t> TermiosSpeed(unsigned baud);
// The baud rate of a termios speed; nothing for a value that is none.
std::optional<unsigned> BaudOf(speed_t speed);

}  // namespace tarnel::scpi::client
