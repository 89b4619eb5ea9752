#include "scpi/tcp_listener.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tarnel::scpi {

namespace {

constexpr int kBacklog = 16;

}  // namespace

TcpListener::~TcpListener() { Close(); }

std::optional<std::string> TcpListener::Open(const ListenAddress& address) {
    const std::string where = "cannot listen on " + address.Text() + ": ";
    sockaddr_storage storage{};
    socklen_t length = 0;
    if (address.IsV6()) {
        auto& v6 = reinterpret_cast<sockaddr_in6&>(storage);
        v6.sin6_family = AF_INET6;
        v6.sin6_port = htons(address.port);
        if (::inet_pton(AF_INET6, address.host.c_str(), &v6.sin6_addr) != 1) return where + "not an IPv6 address";
        length = sizeof v6;
    } else {
        auto& v4 = reinterpret_cast<sockaddr_in&>(storage);
        v4.sin_family = AF_INET;
        v4.sin_port = htons(address.port);
        if (::inet_pton(AF_INET, address.host.c_str(), &v4.sin_addr) != 1) return where + "not an IPv4 address";
        length = sizeof v4;
    }
    Close();
    socket_ = ::socket(storage.ss_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (socket_ < 0) return where + std::strerror(errno);
    // A server started again at once takes its port back from the connections
    // of the last one that are still closing.
    const int reuse = 1;
    ::setsockopt(socket_, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
    if (::bind(socket_, reinterpret_cast<const sockaddr*>(&storage), length) != 0 || ::listen(socket_, kBacklog) != 0) {
        const std::string problem = where + std::strerror(errno);
        Close();
        return problem;
    }
    length = sizeof storage;
    ::getsockname(socket_, reinterpret_cast<sockaddr*>(&storage), &length);
    bound_ = address;
    bound_.port = ntohs(address.IsV6() ? reinterpret_cast<const sockaddr_in6&>(storage).sin6_port
                                       : reinterpret_cast<const sockaddr_in&>(storage).sin_port);
    return std::nullopt;
}

void TcpListener::Close() {
    if (socket_ >= 0) ::close(socket_);
    socket_ = -1;
}

std::string PeerText(const sockaddr_storage& peer) {
    char host[INET6_ADDRSTRLEN] = "?";
    if (peer.ss_family == AF_INET6) {
        const auto& v6 = reinterpret_cast<const sockaddr_in6&>(peer);
        ::inet_ntop(AF_INET6, &v6.sin6_addr, host, sizeof host);
        return ListenAddress{host, ntohs(v6.sin6_port)}.Text();
    }
    if (peer.ss_family == AF_INET) {
        const auto& v4 = reinterpret_cast<const sockaddr_in&>(peer);
        ::inet_ntop(AF_INET, &v4.sin_addr, host, sizeof host);
        return ListenAddress{host, ntohs(v4.sin_port)}.Text();
    }
    return "an address of family " + std::to_string(peer.ss_family);
}

}  // namespace tarnel::scpi
