// A SCPI instrument on its raw socket port (5025 by convention): messages
// are lines ended with a line feed, replies lines up to a line feed (a CR
// before it is dropped).
#pragma once

#include <chrono>
#include <memory>

#include "scpi/client/transport.h"

namespace tarnel::scpi::client {

// Throws InstrumentFailure(Unreachable) when no connection is made within timeout.
std::unique_ptr<Transport> OpenSocketTransport(const SocketResource& resource, std::chrono::milliseconds timeout);

}  // namespace tarnel::scpi::client
