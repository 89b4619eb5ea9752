#include "vxi11/rpc_tcp_listener.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "vxi11/bound_socket.h"
#include "vxi11/record_marking.h"

namespace tarnel::vxi11 {

namespace {

constexpr std::size_t kReceiveChunk = 64 * 1024;
// A client that takes no reply for this long is given up.
constexpr timeval kSendTimeout{10, 0};

bool SendAll(int socket, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t sent = ::send(socket, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) continue;
        if (sent <= 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
    return true;
}

}  // namespace

std::string PeerText(const sockaddr_storage& peer) {
    char text[INET6_ADDRSTRLEN] = "?";
    if (peer.ss_family == AF_INET6) {
        const auto& v6 = reinterpret_cast<const sockaddr_in6&>(peer);
        ::inet_ntop(AF_INET6, &v6.sin6_addr, text, sizeof text);
        return "[" + std::string(text) + "]:" + std::to_string(ntohs(v6.sin6_port));
    }
    const auto& v4 = reinterpret_cast<const sockaddr_in&>(peer);
    ::inet_ntop(AF_INET, &v4.sin_addr, text, sizeof text);
    return std::string(text) + ":" + std::to_string(ntohs(v4.sin_port));
}

RpcTcpListener::RpcTcpListener(RpcListenerSettings settings, SessionFactory openSession)
    : settings_(std::move(settings)), openSession_(std::move(openSession)) {}

RpcTcpListener::~RpcTcpListener() { Stop(); }

std::optional<std::string> RpcTcpListener::Listen() {
    const BoundSocket bound = BindSocket(settings_.host, settings_.port, SOCK_STREAM);
    if (bound.descriptor < 0) return settings_.name + ": " + bound.failure;
    if (::pipe2(wakePipe_, O_CLOEXEC) != 0) {
        ::close(bound.descriptor);
        return settings_.name + ": cannot make a pipe: " + std::strerror(errno);
    }
    listener_ = bound.descriptor;
    port_ = bound.port;
    acceptThread_ = std::thread([this] { AcceptLoop(); });
    return std::nullopt;
}

void RpcTcpListener::Stop() {
    if (acceptThread_.joinable()) {
        const char wake = 0;
        [[maybe_unused]] const ssize_t written = ::write(wakePipe_[1], &wake, 1);
        acceptThread_.join();
    }
    {
        const std::lock_guard lock(connectionsMutex_);
        stopping_ = true;
        for (Connection& connection : connections_) ::shutdown(connection.socket, SHUT_RDWR);
    }
    for (Connection& connection : connections_) {
        if (connection.thread.joinable()) connection.thread.join();
        ::close(connection.socket);
    }
    connections_.clear();
    for (int* descriptor : {&listener_, &wakePipe_[0], &wakePipe_[1]}) {
        if (*descriptor >= 0) ::close(*descriptor);
        *descriptor = -1;
    }
}

void RpcTcpListener::AcceptLoop() {
    while (true) {
        pollfd waits[2] = {{listener_, POLLIN, 0}, {wakePipe_[0], POLLIN, 0}};
        if (::poll(waits, 2, -1) < 0) {
            if (errno == EINTR) continue;
            Log(settings_.name + ": stopped accepting: " + std::strerror(errno));
            return;
        }
        if (waits[1].revents != 0) return;
        sockaddr_storage peer{};
        socklen_t peerLength = sizeof peer;
        const int socket = ::accept4(listener_, reinterpret_cast<sockaddr*>(&peer), &peerLength, SOCK_CLOEXEC);
        if (socket < 0) continue;   // the client went before it was taken, or descriptors ran out for now
        ReapFinished();
        if (settings_.admit) {
            if (const auto refusal = settings_.admit(peer)) {
                Log(settings_.name + ": " + PeerText(peer) + " refused: " + *refusal);
                ::close(socket);
                continue;
            }
        }
        const std::lock_guard lock(connectionsMutex_);
        if (stopping_) {
            ::close(socket);
            return;
        }
        if (connections_.size() >= settings_.mostConnections) {
            Log(settings_.name + ": " + PeerText(peer) + " refused: already " + std::to_string(connections_.size()) +
                " connections, the most it takes; close one first");
            ::close(socket);
            continue;
        }
        const int on = 1;
        ::setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        ::setsockopt(socket, SOL_SOCKET, SO_SNDTIMEO, &kSendTimeout, sizeof kSendTimeout);
        Connection& connection = connections_.emplace_back();
        connection.socket = socket;
        connection.thread = std::thread([this, &connection] { Serve(connection); });
    }
}

void RpcTcpListener::Serve(Connection& connection) {
    std::unique_ptr<RpcSession> session = openSession_();
    RecordAssembler records(settings_.longestRecord);
    std::string chunk(kReceiveChunk, '\0');
    std::string record;
    bool open = true;
    while (open) {
        const ssize_t received = ::recv(connection.socket, chunk.data(), chunk.size(), 0);
        if (received < 0 && errno == EINTR) continue;
        if (received <= 0) break;
        records.Feed(std::string_view(chunk.data(), static_cast<std::size_t>(received)));
        RecordAssembler::Step step = RecordAssembler::Step::NeedMore;
        while (open && (step = records.Next(record)) == RecordAssembler::Step::Record) {
            const std::optional<std::string> reply = AnswerMessage(record, *session);
            if (!reply) {
                Log(settings_.name + ": a message that is no RPC call; the connection is closed");
                open = false;
            } else {
                open = SendAll(connection.socket, RecordOf(*reply));
            }
        }
        if (open && step == RecordAssembler::Step::TooLong) {
            Log(settings_.name + ": a record longer than " + std::to_string(settings_.longestRecord) +
                " bytes; the connection is closed");
            open = false;
        }
    }
    session.reset();   // the connection's links go before it is gone
    ::shutdown(connection.socket, SHUT_RDWR);
    connection.finished = true;
}

void RpcTcpListener::ReapFinished() {
    const std::lock_guard lock(connectionsMutex_);
    for (auto it = connections_.begin(); it != connections_.end();) {
        if (!it->finished) {
            ++it;
            continue;
        }
        it->thread.join();
        ::close(it->socket);
        it = connections_.erase(it);
    }
}

void RpcTcpListener::Log(const std::string& line) const {
    if (settings_.log) settings_.log(line);
}

}  // namespace tarnel::vxi11
