#include "scpi/client_connection.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace tarnel::scpi {

namespace {

constexpr std::size_t kReadChunk = 16 * 1024;
// Replies waiting to go out before the connection takes no more lines.
constexpr std::size_t kMostUnsentReplyBytes = 1024 * 1024;

}  // namespace

ClientConnection::ClientConnection(int socket, std::unique_ptr<InstrumentClient> client)
    : socket_(socket), client_(std::move(client)) {}

ClientConnection::~ClientConnection() {
    client_.reset();
    // No more from us; what was sent still reaches the client.
    ::shutdown(socket_, SHUT_WR);
    ::close(socket_);
}

short ClientConnection::Events() const {
    short events = 0;
    const bool wantsLines = running_ < kMostRunning && unsent_.size() <= kMostUnsentReplyBytes && !next_;
    if (open_ && wantsLines) events |= POLLIN;
    if (open_ && !unsent_.empty()) events |= POLLOUT;
    return events;
}

void ClientConnection::OnReadable() {
    char chunk[kReadChunk];
    const ssize_t received = ::recv(socket_, chunk, sizeof chunk, MSG_DONTWAIT);
    if (received > 0) {
        lines_.Feed({chunk, static_cast<std::size_t>(received)});
    } else if (received == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
        PeerClosed();
    }
}

void ClientConnection::SendSome() {
    while (open_ && !unsent_.empty()) {
        const ssize_t sent = ::send(socket_, unsent_.data(), unsent_.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent > 0) {
            unsent_.erase(0, static_cast<std::size_t>(sent));
        } else if (sent < 0 && errno == EINTR) {
            continue;
        } else {
            if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
            PeerClosed();
        }
    }
}

std::optional<InputLines::Line> ClientConnection::TakeLine() {
    if (running_ >= kMostRunning || unsent_.size() > kMostUnsentReplyBytes) return std::nullopt;
    if (!next_) next_ = lines_.Next();
    if (!next_) return std::nullopt;
    ++running_;
    std::optional<InputLines::Line> line = std::move(next_);
    next_.reset();
    return line;
}

void ClientConnection::Answer(const std::optional<std::string>& reply) {
    --running_;
    if (!reply || !open_) return;
    unsent_ += *reply;
    unsent_ += '\n';
    // Out now rather than on the next pass of the loop.
    SendSome();
}

bool ClientConnection::Open() const {
    if (!open_) return false;
    // The peer's FIN is in the socket before the loop reads up to it, also
    // behind data not read yet; POLLRDHUP reports it at once.
    pollfd peer{socket_, POLLRDHUP, 0};
    if (::poll(&peer, 1, 0) <= 0) return true;
    return (peer.revents & (POLLRDHUP | POLLHUP | POLLERR)) == 0;
}

bool ClientConnection::Finished() {
    if (open_ || running_ > 0) return false;
    if (!next_) next_ = lines_.Next();
    return !next_;
}

void ClientConnection::PeerClosed() {
    // The lines already received still run; their replies have nowhere to go.
    open_ = false;
    unsent_.clear();
}

}  // namespace tarnel::scpi
