// A serial port opened for one program: non-blocking, no controlling
// terminal, closed on exec, held exclusively (flock, and TIOCEXCL so that
// programs that take no lock are kept out too), in raw mode with the chosen
// frame and handshake. Shared by the RS-232 transport and the GPIB adapters
// on a USB-serial line. Private to the client library.
#pragma once

#include <optional>
#include <string>

#include "scpi/client/connection_options.h"

namespace tarnel::scpi::client {

// Opens path and applies settings; DTR/DSR leaves the handshake to the
// caller (the kernel has none): it needs the port's modem lines. `device`
// names the port in messages: "serial port", "GPIB adapter". Throws
// InstrumentFailure: NotFound, NoPermission, Busy, Unreachable.
int OpenSerialPort(const std::string& path, const SerialSettings& settings, const std::string& device);

// Lets other programs open the port again once it is closed (TIOCNXCL): a
// port another program also holds open, such as an emulated line, would
// otherwise stay exclusive.
void EndExclusiveUse(int fd);

// The modem lines (TIOCM_* bits); nothing for a port without them, such as a
// pseudo-terminal.
std::optional<int> ModemLines(int fd);
// Raises (true) or drops a modem line such as TIOCM_DTR; false when the port refuses.
bool SetModemLine(int fd, int line, bool raised);

}  // namespace tarnel::scpi::client
