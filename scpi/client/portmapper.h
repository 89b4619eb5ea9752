// The port of an ONC RPC program on a host, asked of the host's portmapper
// (port 111, version 2, GETPORT) over TCP within a timeout.
#pragma once

#include <rpc/rpc.h>

#include <chrono>
#include <cstdint>
#include <string>

namespace tarnel::scpi::client {

struct PortLookup {
    bool answered = false;    // false: no portmapper answered; `reason` says why
    std::uint16_t port = 0;   // when answered: 0 when the program is not registered for TCP
    std::string reason;
};

PortLookup LookUpTcpPort(const std::string& host, rpcprog_t program, rpcvers_t version,
                         std::chrono::milliseconds timeout);

}  // namespace tarnel::scpi::client
