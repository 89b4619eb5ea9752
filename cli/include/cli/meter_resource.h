// Where the bench meter is, as --meter takes it: the VISA form
// "TCPIP0::HOST::PORT::SOCKET" (any board number, any case) or "HOST:PORT".
// HOST is a name, an IPv4 address, or an IPv6 address in brackets
// ("[::1]:5025", "TCPIP0::[::1]::5025::SOCKET").
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tarnel::cli {

struct MeterResource {
    std::string host;   // without brackets
    std::uint16_t port = 0;

    // "HOST:PORT", brackets around an IPv6 address, as messages name the meter.
    std::string Text() const;
};

// Nothing for text that is neither form, or a port outside 1..65535.
std::optional<MeterResource> ParseMeterResource(std::string_view text);

}  // namespace tarnel::cli
