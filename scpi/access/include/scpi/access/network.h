// IP networks and peer addresses as the allow-list compares them: IPv4 and
// IPv6 side by side, an IPv4 client that reaches an IPv6 listener
// (::ffff:a.b.c.d) counted as the IPv4 address it is.
#pragma once

#include <sys/socket.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace tarnel::scpi::access {

// One address: IPv4 in the first 4 bytes, IPv6 in all 16.
struct IpAddress {
    bool v6 = false;
    std::array<std::uint8_t, 16> bytes{};

    std::size_t Bits() const { return v6 ? 128 : 32; }
    // "192.0.2.7", "2001:db8::1"
    std::string Text() const;
    bool IsLoopback() const;   // 127.0.0.0/8, ::1, or ::ffff:127.0.0.0/104
    bool IsV4Mapped() const;   // ::ffff:a.b.c.d
    // The IPv4 address of a mapped one; any other unchanged.
    IpAddress Unmapped() const;
    friend bool operator==(const IpAddress&, const IpAddress&) = default;
};

// Numeric IPv4 or IPv6 text ("192.0.2.7", "fd00::1"), as written: a mapped
// address stays IPv6. Nothing for anything else.
std::optional<IpAddress> ParseIpAddress(const std::string& text);

// The peer's address, IPv4-mapped IPv6 as IPv4; nothing for a family other
// than IPv4 and IPv6.
std::optional<IpAddress> PeerAddress(const sockaddr_storage& peer);

// The address with every bit past the first `prefix` cleared.
IpAddress Masked(IpAddress address, std::size_t prefix);

// A network: the addresses whose first `prefix` bits are those of `base`
// (which has no bits set past them).
struct Network {
    IpAddress base;
    std::size_t prefix = 0;

    bool Contains(const IpAddress& address) const;
    // "192.168.1.0/24", "fd00::/8"
    std::string Text() const;
    friend bool operator==(const Network&, const Network&) = default;
};

}  // namespace tarnel::scpi::access
