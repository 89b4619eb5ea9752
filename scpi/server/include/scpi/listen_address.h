// Where the server listens, as given on the command line: an IPv4 address and
// a port, "127.0.0.1:5025", or an IPv6 address in brackets, "[::1]:5025".
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tarnel::scpi {

struct ListenAddress {
    std::string host;   // the address without brackets: "127.0.0.1", "::1"
    std::uint16_t port = 0;
};

inline constexpr std::string_view kDefaultListenAddress = "127.0.0.1:5025";
// How many clients the server serves at once unless told otherwise.
inline constexpr unsigned kDefaultMaxClients = 8;

// Nothing for text that is not an address and a port (0 lets the system pick one).
std::optional<ListenAddress> ParseListenAddress(std::string_view text);

}  // namespace tarnel::scpi
