// An ONC RPC client of one program on a TCP connection, on libtirpc: the
// connection made within a timeout, each call bounded by its own timeout
// (the reply waited for, and the request's bytes taken by the peer), and a
// peer that closed the connection never ending the process with SIGPIPE.
#pragma once

#include <rpc/rpc.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

namespace tarnel::scpi::client {

enum class RpcOutcome {
    Answered,    // the result is decoded
    TimedOut,    // no reply, or the request's bytes not taken, within the call's timeout
    Closed,      // the peer closed or reset the connection
    NotServed,   // the peer does not serve this program, version or procedure
    Garbled,     // a reply that could not be decoded, or any other failure of the call
};

struct RpcResult {
    RpcOutcome outcome = RpcOutcome::Answered;
    std::string detail;   // for a message: what went wrong, empty when answered
};

class RpcChannel {
public:
    using Clock = std::chrono::steady_clock;

    // A channel to program/version at host:port, connected within timeout;
    // nothing, with the reason in `reason`, when no connection is made.
    static std::unique_ptr<RpcChannel> Connect(const std::string& host, std::uint16_t port, rpcprog_t program,
                                               rpcvers_t version, std::chrono::milliseconds timeout,
                                               std::string& reason);
    ~RpcChannel();
    RpcChannel(const RpcChannel&) = delete;
    RpcChannel& operator=(const RpcChannel&) = delete;

    // One call: arguments encoded with encode, the result decoded into
    // `result` with decode. What decode allocated is freed with Free.
    RpcResult Call(rpcproc_t procedure, xdrproc_t encode, void* arguments, xdrproc_t decode, void* result,
                   std::chrono::milliseconds timeout);
    void Free(xdrproc_t decode, void* result);

    std::uint16_t Port() const { return port_; }

private:
    RpcChannel(CLIENT* client, std::uint16_t port) : client_(client), port_(port) {}

    CLIENT* client_;
    std::uint16_t port_;
};

// The time left until deadline in whole milliseconds, rounded up; zero once passed.
std::chrono::milliseconds TimeLeft(RpcChannel::Clock::time_point deadline);

}  // namespace tarnel::scpi::client
