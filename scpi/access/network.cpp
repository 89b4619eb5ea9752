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
    if (IsV4Mapped()) return Unmapped().IsLoopback();
    if (!v6) return bytes[0] == 127;
    return std::all_of(bytes.begin(), bytes.end() - 1, [](std::uint8_t b) { return b == 0; }) && bytes[15] == 1;
}

bool IpAddress::IsV4Mapped() const {
    return v6 && std::all_of(bytes.begin(), bytes.begin() + 10, [](std::uint8_t b) { return b == 0; }) &&
           bytes[10] == 0xFF && bytes[11] == 0xFF;
}

IpAddress IpAddress::Unmapped() const {
    if (!IsV4Mapped()) return *this;
    IpAddress v4;
    std::copy(bytes.begin() + 12, bytes.end(), v4.bytes.begin());
    return v4;
}

std::optional<IpAddress> ParseIpAddress(const std::string& text) {
    IpAddress address;
    if (inet_pton(AF_INET, text.c_str(), address.bytes.data()) == 1) return address;
    address.v6 = true;
    if (inet_pton(AF_INET6, text.c_str(), address.bytes.data()) == 1) return address;
    return std::nullopt;
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
    address.v6 = true;
    std::memcpy(address.bytes.data(), &v6.sin6_addr, 16);
    return address.Unmapped();
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
