// A socket bound to a numeric address and port, for the listeners.
#pragma once

#include <cstdint>
#include <string>

namespace tarnel::vxi11 {

struct BoundSocket {
    int descriptor = -1;   // -1: `failure` says why
    std::string failure;
    std::uint16_t port = 0;   // the port bound (the one picked for port 0)
};

// type: SOCK_STREAM (listening) or SOCK_DGRAM (broadcasts received too).
BoundSocket BindSocket(const std::string& host, std::uint16_t port, int type);

}  // namespace tarnel::vxi11
