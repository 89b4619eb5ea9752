#include "soak_connection.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace tarnel::bench {

SoakConnection::SoakConnection(std::uint16_t port, std::chrono::seconds replyBound)
    : socket_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const int one = 1;
    ::setsockopt(socket_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    const timeval timeout{static_cast<time_t>(replyBound.count()), 0};
    ::setsockopt(socket_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    if (::connect(socket_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        ::close(socket_);
        socket_ = -1;
    }
}

SoakConnection::~SoakConnection() {
    if (socket_ >= 0) ::close(socket_);
}

std::optional<std::string> SoakConnection::Query(const std::string& message) {
    if (socket_ < 0) return std::nullopt;
    const std::string line = message + "\n";
    for (std::size_t done = 0; done < line.size();) {
        const ssize_t sent = ::send(socket_, line.data() + done, line.size() - done, MSG_NOSIGNAL);
        if (sent <= 0) return std::nullopt;
        done += static_cast<std::size_t>(sent);
    }
    std::size_t end;
    while ((end = buffer_.find('\n')) == std::string::npos) {
        char chunk[512];
        const ssize_t got = ::recv(socket_, chunk, sizeof chunk, 0);
        if (got <= 0) {
            timedOut_ = got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
            return std::nullopt;
        }
        buffer_.append(chunk, static_cast<std::size_t>(got));
    }
    std::string reply = buffer_.substr(0, end);
    buffer_.erase(0, end + 1);
    return reply;
}

}  // namespace tarnel::bench
