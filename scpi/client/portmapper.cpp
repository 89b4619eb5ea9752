#include "portmapper.h"

#include <rpc/pmap_prot.h>

#include "rpc_channel.h"
#include "scpi/client/byte_stream.h"

namespace tarnel::scpi::client {

PortLookup LookUpTcpPort(const std::string& host, rpcprog_t program, rpcvers_t version,
                         std::chrono::milliseconds timeout) {
    const auto deadline = RpcChannel::Clock::now() + timeout;
    PortLookup lookup;
    auto portmapper = RpcChannel::Connect(host, PMAPPORT, PMAPPROG, PMAPVERS, timeout, lookup.reason);
    if (!portmapper) return lookup;
    pmap asked{program, version, IPPROTO_TCP, 0};
    u_long port = 0;
    const RpcResult result = portmapper->Call(PMAPPROC_GETPORT, reinterpret_cast<xdrproc_t>(xdr_pmap), &asked,
                                              reinterpret_cast<xdrproc_t>(xdr_u_long), &port, TimeLeft(deadline));
    switch (result.outcome) {
    case RpcOutcome::Answered:
        lookup.answered = true;
        lookup.port = port <= 65535 ? static_cast<std::uint16_t>(port) : 0;
        break;
    case RpcOutcome::TimedOut:
        lookup.reason = "the portmapper did not answer within " + SecondsText(timeout);
        break;
    default:
        lookup.reason = "the portmapper's answer failed: " + result.detail;
        break;
    }
    return lookup;
}

}  // namespace tarnel::scpi::client
