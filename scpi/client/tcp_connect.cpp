#include "scpi/client/tcp_connect.h"

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "scpi/client/byte_stream.h"

namespace tarnel::scpi::client {

int ConnectTcp(const std::string& host, std::uint16_t port, std::chrono::milliseconds timeout, std::string& reason) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* addresses = nullptr;
    const int resolved = ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &addresses);
    if (resolved != 0) {
        reason = std::string("cannot resolve the host name: ") + ::gai_strerror(resolved);
        return -1;
    }
    const auto deadline = ByteStream::Clock::now() + timeout;
    int connected = -1;
    for (addrinfo* address = addresses; address != nullptr && connected < 0; address = address->ai_next) {
        const int fd = ::socket(address->ai_family, address->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                                address->ai_protocol);
        if (fd < 0) {
            reason = std::strerror(errno);
            continue;
        }
        int error = ::connect(fd, address->ai_addr, address->ai_addrlen) == 0 ? 0 : errno;
        if (error == EINPROGRESS) {
            if (WaitFor(fd, POLLOUT, deadline)) {
                socklen_t length = sizeof error;
                if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) error = errno;
            } else {
                error = ETIMEDOUT;
            }
        }
        if (error == 0) {
            connected = fd;
        } else {
            reason = error == ETIMEDOUT ? "no answer within " + SecondsText(timeout) : std::strerror(error);
            ::close(fd);
        }
    }
    ::freeaddrinfo(addresses);
    return connected;
}

}  // namespace tarnel::scpi::client
