#include "scpi/access/network.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <algorithm>
#include <cstring>

namespace tarnel::scpi::access {

std::string IpAddress::Text() const {
    char text[INET6_ADDRSTRLEN] = {};
    inet_ntop(v6 ? AF_INET6 : AF_INET, bytes.data(), text, sizeof text);
    return text;
}

bool IpAddress::IsLoopback() const {
    if (!v6) return bytes[0] == 127;
    return std::all_of(bytes.begin(), bytes.end() - 1, [](std::uint8_t b) { return b == 0; }) && bytes[15] == 1;
}

std::optional<IpAddress> PeerAddress(const sockaddr_storage& peer) {
    IpAddress address;
    if (peer.ss_family == AF_INET) {
        sockaddr_in v4{};
        std::memcpy(&v4, &peer, sizeof v4);
        std::memcpy(address.bytes.data(), &v4.sin_addr, 4);
        return address;
    }
    if (peer.ss_family != AF_INET6) return std::nullopt;
    sockaddr_in6 v6{};
    std::memcpy(&v6, &peer, sizeof v6);
    if (IN6_IS_ADDR_V4MAPPED(&v6.sin6_addr)) {
        std::memcpy(address.bytes.data(), reinterpret_cast<const std::uint8_t*>(&v6.sin6_addr) + 12, 4);
        return address;
    }
    address.v6 = true;
    std::memcpy(address.bytes.data(), &v6.sin6_addr, 16);
    return address;
}

IpAddress Masked(IpAddress address, std::size_t prefix) {
    for (std::size_t byte = 0; byte < address.bytes.size(); ++byte) {
        const std::size_t kept = prefix > byte * 8 ? std::min<std::size_t>(prefix - byte * 8, 8) : 0;
        address.bytes[byte] &= static_cast<std::uint8_t>(0xFF00u >> kept);
    }
    return address;
}

bool Network::Contains(const IpAddress& address) const {
    return address.v6 == base.v6 && Masked(address, prefix) == base;
}

std::string Network::Text() const { return base.Text() + "/" + std::to_string(prefix); }

}  // namespace tarnel::scpi::access
