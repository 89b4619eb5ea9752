#include "port_path.h"

#include <algorithm>

#include <tarnel/board_protocol.h>

#include "board_error.h"

namespace tarnel::boardaccess {

void WritePortPathReply(const std::string& path, std::span<std::uint8_t> reply) {
    if (path.size() > reply.size()) {
        throw BoardError(FailureKind::BadArgument,
                         "the port path " + path + " needs " + std::to_string(path.size()) + " bytes, the request has " +
                             std::to_string(reply.size()) + " — ask for " +
                             std::to_string(protocol::kPortPathLength) + " bytes");
    }
    std::fill(reply.begin(), reply.end(), std::uint8_t{0});
    std::copy(path.begin(), path.end(), reply.begin());
}

}  // namespace tarnel::boardaccess
