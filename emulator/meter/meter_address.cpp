#include "meter_address.h"

#include <arpa/inet.h>
#include <netinet/in.h>

namespace tarnel::emulator {

std::string MeterAddress::Text() const {
    return (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

std::optional<MeterAddress> ParseMeterAddress(std::string_view text) {
    MeterAddress address;
    const std::size_t colon = text.rfind(':');
    std::string_view port = text;
    if (colon != std::string_view::npos) {
        std::string_view host = text.substr(0, colon);
        port = text.substr(colon + 1);
        address.v6 = host.size() >= 2 && host.front() == '[' && host.back() == ']';
        if (address.v6) host = host.substr(1, host.size() - 2);
        address.host = std::string(host);
        unsigned char binary[sizeof(in6_addr)];
        if (::inet_pton(address.v6 ? AF_INET6 : AF_INET, address.host.c_str(), binary) != 1) return std::nullopt;
    }
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

}  // namespace tarnel::emulator
