#include "line_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace tarnel::scpi {

LineClient::LineClient(std::uint16_t port) : socket_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const timeval timeout{10, 0};
    ::setsockopt(socket_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    connected_ = ::connect(socket_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
}

LineClient::~LineClient() { ::close(socket_); }

std::string LineClient::Query(const std::string& message) {
    const std::string line = message + "\n";
    if (!connected_ || ::send(socket_, line.data(), line.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(line.size())) {
        return "";
    }
    std::string reply;
    char byte = 0;
    while (true) {
        const ssize_t got = ::recv(socket_, &byte, 1, 0);
        if (got == 0) return "";
        if (got < 0) return errno == EAGAIN || errno == EWOULDBLOCK ? "<no reply>" : "";   // reset: closed
        if (byte == '\n') return reply;
        reply += byte;
    }
}

std::uint16_t PortOf(const std::string& address) {
    return static_cast<std::uint16_t>(std::stoi(address.substr(address.rfind(':') + 1)));
}

}  // namespace tarnel::scpi
