// The clients a served instrument admits: any address, or loopback and a
// list of networks. Loopback is always admitted: whoever is on the host
// itself may already reach the board.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "scpi/access/network.h"

namespace tarnel::scpi::access {

class AllowList {
public:
    static AllowList Any();
    // Loopback and these networks.
    explicit AllowList(std::vector<Network> networks) : networks_(std::move(networks)) {}

    bool AdmitsAny() const { return any_; }
    const std::vector<Network>& Networks() const { return networks_; }
    bool Admits(const IpAddress& peer) const;
    // "any address", or "loopback, 10.0.0.0/8, fd00::/8"
    std::string Text() const;

private:
    AllowList() = default;
    bool any_ = false;
    std::vector<Network> networks_;
};

// An allow-list that cannot be read; the message names the entry and the fix.
class AllowListError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// "any", or CIDR[,CIDR...]: "10.0.0.0/8,192.168.1.0/24,fd00::/8" (blanks
// around an entry are ignored); an address without /N is that one host. An
// IPv4-mapped IPv6 network of /96 or more is its IPv4 network. Throws
// AllowListError naming the first bad entry and why.
AllowList ParseAllowList(std::string_view text);

}  // namespace tarnel::scpi::access
