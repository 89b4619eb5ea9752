#include "vxi11/bound_socket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tarnel::vxi11 {

BoundSocket BindSocket(const std::string& host, std::uint16_t port, int type) {
    sockaddr_storage address{};
    socklen_t length = 0;
    auto* v4 = reinterpret_cast<sockaddr_in*>(&address);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&address);
    if (::inet_pton(AF_INET, host.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(port);
        length = sizeof(sockaddr_in);
    } else if (::inet_pton(AF_INET6, host.c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(port);
        length = sizeof(sockaddr_in6);
    } else {
        return {-1, "\"" + host + "\" is not a numeric IP address: give one such as 0.0.0.0 or ::1", 0};
    }
    const int descriptor = ::socket(address.ss_family, type | SOCK_CLOEXEC, 0);
    if (descriptor < 0) return {-1, std::string("cannot make a socket: ") + std::strerror(errno), 0};
    const int on = 1;
    ::setsockopt(descriptor, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (type == SOCK_DGRAM) ::setsockopt(descriptor, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    if (::bind(descriptor, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        (type == SOCK_STREAM && ::listen(descriptor, 16) != 0)) {
        const int cause = errno;
        ::close(descriptor);
        return {-1, "cannot listen on " + host + " port " + std::to_string(port) + ": " + std::strerror(cause), 0};
    }
    sockaddr_storage bound{};
    socklen_t boundLength = sizeof bound;
    ::getsockname(descriptor, reinterpret_cast<sockaddr*>(&bound), &boundLength);
    const std::uint16_t boundPort = bound.ss_family == AF_INET6 ? ntohs(reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port)
                                                                : ntohs(reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
    return {descriptor, {}, boundPort};
}

}  // namespace tarnel::vxi11
