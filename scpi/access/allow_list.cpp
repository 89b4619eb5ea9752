#include "scpi/access/allow_list.h"

#include <algorithm>
#include <charconv>

namespace tarnel::scpi::access {

namespace {

constexpr std::string_view kBlanks = " \t";
constexpr std::size_t kMappedPrefixBits = 96;   // ::ffff:0:0/96

std::string_view Trimmed(std::string_view text) {
    const std::size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

[[noreturn]] void Refuse(std::string_view entry, const std::string& why) {
    throw AllowListError("allow-list entry '" + std::string(entry) + "' " + why);
}

Network ParseNetwork(std::string_view entry) {
    const std::size_t slash = entry.find('/');
    const auto address = ParseIpAddress(std::string(entry.substr(0, slash)));
    if (!address) {
        Refuse(entry,
               "is not an IPv4 or IPv6 address — write a network such as 192.168.1.0/24 or fd00::/8, or any");
    }
    std::size_t prefix = address->Bits();
    if (slash != std::string_view::npos) {
        const std::string_view digits = entry.substr(slash + 1);
        const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), prefix);
        if (digits.empty() || error != std::errc() || end != digits.data() + digits.size() ||
            prefix > address->Bits()) {
            Refuse(entry, "has a bad prefix length — after the / give 0 to " + std::to_string(address->Bits()));
        }
    }
    if (Masked(*address, prefix) != *address) {
        Refuse(entry, "has bits set past its /" + std::to_string(prefix) + " — write the network, " +
                          Network{Masked(*address, prefix), prefix}.Text());
    }
    if (address->IsV4Mapped() && prefix >= kMappedPrefixBits) {
        return Network{address->Unmapped(), prefix - kMappedPrefixBits};
    }
    return Network{*address, prefix};
}

}  // namespace

AllowList AllowList::Any() {
    AllowList list;
    list.any_ = true;
    return list;
}

bool AllowList::Admits(const IpAddress& peer) const {
    return any_ || peer.IsLoopback() ||
           std::any_of(networks_.begin(), networks_.end(), [&](const Network& n) { return n.Contains(peer); });
}

std::string AllowList::Text() const {
    if (any_) return "any address";
    std::string text = "loopback";
    for (const Network& network : networks_) text += ", " + network.Text();
    return text;
}

AllowList ParseAllowList(std::string_view text) {
    const std::string_view whole = Trimmed(text);
    if (whole == "any") return AllowList::Any();
    std::vector<Network> networks;
    for (;;) {
        const std::size_t comma = text.find(',');
        const std::string_view entry = Trimmed(text.substr(0, comma));
        if (entry.empty()) {
            throw AllowListError("empty allow-list entry in '" + std::string(whole) +
                                 "' — give networks such as 10.0.0.0/8,fd00::/8 separated by single commas, or any");
        }
        if (entry == "any") Refuse(entry, "stands alone — give any, or a list of networks");
        if (entry.find_first_of(kBlanks) != std::string_view::npos) {
            Refuse(entry, "has a blank inside — separate entries with commas");
        }
        const Network network = ParseNetwork(entry);
        if (std::find(networks.begin(), networks.end(), network) == networks.end()) networks.push_back(network);
        if (comma == std::string_view::npos) return AllowList(std::move(networks));
        text.remove_prefix(comma + 1);
    }
}

}  // namespace tarnel::scpi::access
