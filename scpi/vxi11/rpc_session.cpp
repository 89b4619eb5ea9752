#include "vxi11/rpc_session.h"

namespace tarnel::vxi11 {

std::optional<std::string> AnswerMessage(std::string_view message, RpcSession& session) {
    const DecodedCall decoded = DecodeCall(message);
    if (decoded.denial) return decoded.denial;
    if (!decoded.call) return std::nullopt;
    return EncodeReply(decoded.call->xid, session.Answer(*decoded.call));
}

}  // namespace tarnel::vxi11
