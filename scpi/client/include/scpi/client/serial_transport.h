// A SCPI instrument on an RS-232 line: raw mode, no echo, the chosen frame
// and handshake (DTR/DSR done here with the modem-line ioctls, as the kernel
// has none), messages ended with the chosen line end, each reply waited for
// with a deadline. A classic meter takes commands over RS-232 only once put
// in remote: the transport asks for SYST:REM before anything else.
#pragma once

#include <chrono>
#include <memory>

#include "scpi/client/transport.h"

namespace tarnel::scpi::client {

// Throws InstrumentFailure: NotFound (naming the path), NoPermission (naming
// the dialout group), Busy, Unreachable (a setting the port refuses, DTR/DSR
// on a port without modem lines).
std::unique_ptr<Transport> OpenSerialTransport(const SerialResource& resource, const SerialSettings& settings,
                                               LineEnd lineEnd, std::chrono::milliseconds timeout);

}  // namespace tarnel::scpi::client
