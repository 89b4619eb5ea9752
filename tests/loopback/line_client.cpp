#include "loopback/line_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace tarnel::loopback {

LineClient::LineClient(std::uint16_t port, std::chrono::seconds replyBound)
    : socket_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    if (socket_ < 0) return;
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

LineClient::~LineClient() {
    if (socket_ >= 0) ::close(socket_);
}

bool LineClient::Send(std::string_view text) {
    if (socket_ < 0) return false;
    while (!text.empty()) {
        const ssize_t sent = ::send(socket_, text.data(), text.size(), MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) continue;
        if (sent <= 0) return false;
        text.remove_prefix(static_cast<std::size_t>(sent));
    }
    return true;
}

std::optional<std::string> LineClient::ReadLine() {
    timedOut_ = false;
    if (socket_ < 0) return std::nullopt;
    std::size_t end;
    while ((end = buffer_.find('\n')) == std::string::npos) {
        char chunk[4096];
        const ssize_t got = ::recv(socket_, chunk, sizeof chunk, 0);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            timedOut_ = got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
            return std::nullopt;
        }
        buffer_.append(chunk, static_cast<std::size_t>(got));
    }
    std::string line = buffer_.substr(0, end);
    buffer_.erase(0, end + 1);
    return line;
}

std::optional<std::string> LineClient::Query(std::string_view message) {
    timedOut_ = false;
    std::string line(message);
    line += '\n';
    if (!Send(line)) return std::nullopt;
    return ReadLine();
}

std::string LineClient::Reply(std::string_view message) {
    const std::optional<std::string> reply = Query(message);
    if (reply) return *reply;
    return timedOut_ ? "<no reply>" : "";
}

std::uint16_t PortOf(const std::string& address) {
    return static_cast<std::uint16_t>(std::stoi(address.substr(address.rfind(':') + 1)));
}

}  // namespace tarnel::loopback
