#include "scpi/access/host_networks.h"

#include <netinet/in.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <memory>

namespace tarnel::scpi::access {

namespace {

// The number of leading one bits of a netmask.
std::size_t PrefixOf(const IpAddress& netmask) {
    std::size_t prefix = 0;
    for (std::size_t byte = 0; byte < netmask.Bits() / 8; ++byte) {
        const auto ones = static_cast<std::size_t>(std::countl_one(netmask.bytes[byte]));
        prefix += ones;
        if (ones < 8) break;
    }
    return prefix;
}

// The IP address in a sockaddr of either family; nothing for other families.
std::optional<IpAddress> AddressIn(const sockaddr* address) {
    if (address == nullptr) return std::nullopt;
    sockaddr_storage storage{};
    const std::size_t size = address->sa_family == AF_INET    ? sizeof(sockaddr_in)
                             : address->sa_family == AF_INET6 ? sizeof(sockaddr_in6)
                                                               : 0;
    if (size == 0) return std::nullopt;
    std::memcpy(&storage, address, size);
    return PeerAddress(storage);
}

}  // namespace

std::vector<Network> NetworksOf(const ifaddrs* interfaces) {
    std::vector<Network> networks;
    for (const ifaddrs* entry = interfaces; entry != nullptr; entry = entry->ifa_next) {
        const auto address = AddressIn(entry->ifa_addr);
        const auto netmask = AddressIn(entry->ifa_netmask);
        if (!address || !netmask || address->v6 != netmask->v6 || address->IsLoopback()) continue;
        const std::size_t prefix = PrefixOf(*netmask);
        const Network network{Masked(*address, prefix), prefix};
        if (std::find(networks.begin(), networks.end(), network) == networks.end()) networks.push_back(network);
    }
    return networks;
}

AllowList HostNetworksAllowList() {
    ifaddrs* interfaces = nullptr;
    if (getifaddrs(&interfaces) != 0) {
        throw AllowListError(std::string("cannot list this host's network interfaces: ") + std::strerror(errno) +
                             " — name the clients' networks with an allow-list");
    }
    const std::unique_ptr<ifaddrs, decltype(&freeifaddrs)> held(interfaces, freeifaddrs);
    return AllowList(NetworksOf(interfaces));
}

}  // namespace tarnel::scpi::access
