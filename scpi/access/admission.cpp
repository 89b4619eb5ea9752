#include "scpi/access/admission.h"

namespace tarnel::scpi::access {

AdmissionCheck MakeAdmissionCheck(AllowList list, std::string setting) {
    return [list = std::move(list), setting = std::move(setting)](const sockaddr_storage& peer)
               -> std::optional<std::string> {
        const auto address = PeerAddress(peer);
        if (!address) {
            return "refused a client of address family " + std::to_string(peer.ss_family) +
                   ": only IPv4 and IPv6 clients are served";
        }
        if (list.Admits(*address)) return std::nullopt;
        return "refused client " + address->Text() + ": not in " + setting + " (" + list.Text() +
               ") — add its network to " + setting + " to serve it";
    };
}

bool ListensOnLoopbackOnly(std::string_view host) {
    const auto address = ParseIpAddress(std::string(host));
    return address && address->IsLoopback();
}

std::string AdmissionLine(const AllowList& list, std::string_view setting, bool hostDefault) {
    if (list.AdmitsAny()) return "admitting clients from any address (" + std::string(setting) + ")";
    if (!hostDefault) return "admitting clients from " + list.Text() + " (" + std::string(setting) + ")";
    std::string line = "admitting clients from loopback and this host's networks";
    for (std::size_t i = 0; i < list.Networks().size(); ++i) line += (i == 0 ? " " : ", ") + list.Networks()[i].Text();
    if (list.Networks().empty()) line += " (none found)";
    return line + " — admit others with " + std::string(setting);
}

}  // namespace tarnel::scpi::access
