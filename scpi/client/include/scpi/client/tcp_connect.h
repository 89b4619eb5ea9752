// A TCP connection to HOST:PORT made within a bounded wait, for the raw SCPI
// socket and the LAN GPIB adapters.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace tarnel::scpi::client {

// A connected, non-blocking socket to one of the host's addresses, or -1
// with the reason of the last failure in `reason`.
int ConnectTcp(const std::string& host, std::uint16_t port, std::chrono::milliseconds timeout, std::string& reason);

}  // namespace tarnel::scpi::client
