// The port-path request's reply: the board's USB port path (see
// tarnel/usb_port_path.h), NUL-padded, which the library answers itself.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace tarnel::boardaccess {

// Fills reply with the path, NUL-padded, as the port-path request answers.
// Throws BoardError(BadArgument) when reply is shorter than the path.
void WritePortPathReply(const std::string& path, std::span<std::uint8_t> reply);

}  // namespace tarnel::boardaccess
