// What answers the calls of one connection (or, on UDP, of one datagram):
// the programs a listener serves, with whatever the connection keeps.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "vxi11/rpc_message.h"

namespace tarnel::vxi11 {

class RpcSession {
public:
    virtual ~RpcSession() = default;
    virtual RpcAnswer Answer(const RpcCall& call) = 0;
};

// The reply message to one call message; nothing when it is not an RPC call,
// which ends the connection.
std::optional<std::string> AnswerMessage(std::string_view message, RpcSession& session);

}  // namespace tarnel::vxi11
