#include "scpi/listen_address.h"

#include <arpa/inet.h>
#include <netinet/in.h>

namespace tarnel::scpi {

std::string ListenAddress::Text() const { return (IsV6() ? "[" + host + "]" : host) + ":" + std::to_string(port); }

std::optional<ListenAddress> ParseListenAddress(std::string_view text) {
    const std::size_t colon = text.rfind(':');
    if (colon == std::string_view::npos) return std::nullopt;
    std::string_view host = text.substr(0, colon);
    const std::string_view port = text.substr(colon + 1);
    // An IPv6 address needs its brackets, or its last group would read as the port.
    const bool bracketed = host.size() >= 2 && host.front() == '[' && host.back() == ']';
    if (bracketed) host = host.substr(1, host.size() - 2);
    ListenAddress address{std::string(host), 0};
    unsigned char binary[sizeof(in6_addr)];
    if (::inet_pton(bracketed ? AF_INET6 : AF_INET, address.host.c_str(), binary) != 1) return std::nullopt;
    if (port.empty() || port.size() > 5) return std::nullopt;
    unsigned number = 0;
    for (const char c : port) {
        if (c < '0' || c > '9') return std::nullopt;
        number = number * 10 + static_cast<unsigned>(c - '0');
    }
    if (number > 65535) return std::nullopt;
    address.port = static_cast<std::uint16_t>(number);
    return address;
}

}  // namespace tarnel::scpi
