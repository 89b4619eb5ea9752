#include "meter_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <exception>

#include "posix_io/write_all.h"

namespace tarnel::emulator {

namespace {

constexpr int kBacklog = 16;
constexpr std::size_t kReadChunk = 16 * 1024;

std::string SystemError(const std::string& what) { return what + ": " + std::strerror(errno); }

// Whether fd became readable before wake did.
bool AwaitReadable(int fd, int wake) {
    pollfd watched[2] = {{fd, POLLIN, 0}, {wake, POLLIN, 0}};
    while (true) {
        const int ready = ::poll(watched, 2, -1);
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0 || watched[1].revents != 0) return false;
        if (watched[0].revents != 0) return true;
    }
}

}  // namespace

MeterServer::MeterServer(ClientStart start, std::function<void(const std::string&)> log)
    : start_(std::move(start)), log_(std::move(log)) {}

MeterServer::~MeterServer() { Stop(); }

std::optional<std::string> MeterServer::Listen(const MeterAddress& address) {
    const std::string where = "cannot listen on " + address.Text();
    sockaddr_storage storage{};
    socklen_t length = 0;
    if (address.IsV6()) {
        auto& v6 = reinterpret_cast<sockaddr_in6&>(storage);
        v6.sin6_family = AF_INET6;
        v6.sin6_port = htons(address.port);
        if (::inet_pton(AF_INET6, address.host.c_str(), &v6.sin6_addr) != 1) return where + ": not an IPv6 address";
        length = sizeof v6;
    } else {
        auto& v4 = reinterpret_cast<sockaddr_in&>(storage);
        v4.sin_family = AF_INET;
        v4.sin_port = htons(address.port);
        if (::inet_pton(AF_INET, address.host.c_str(), &v4.sin_addr) != 1) return where + ": not an IPv4 address";
        length = sizeof v4;
    }
    listener_ = ::socket(storage.ss_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (listener_ < 0) return SystemError(where);
    const int reuse = 1;
    ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&storage), length) != 0 || ::listen(listener_, kBacklog) != 0) {
        std::string problem = SystemError(where);
        ::close(listener_);
        listener_ = -1;
        return problem + " - choose another port";
    }
    length = sizeof storage;
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&storage), &length);
    bound_ = address;
    bound_.port = ntohs(address.IsV6() ? reinterpret_cast<sockaddr_in6&>(storage).sin6_port
                                   : reinterpret_cast<sockaddr_in&>(storage).sin_port);
    wake_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake_ < 0) return SystemError(where);
    acceptor_ = std::thread([this] { Accept(); });
    return std::nullopt;
}

void MeterServer::Stop() {
    if (wake_ >= 0) {
        const std::uint64_t one = 1;
        // Never read: every poll on it is woken from now on.
        [[maybe_unused]] const ssize_t written = ::write(wake_, &one, sizeof one);
    }
    if (acceptor_.joinable()) acceptor_.join();
    {
        // A client blocked sending to a peer that does not read gets an error.
        const std::lock_guard lock(mutex_);
        for (Client& client : clients_) ::shutdown(client.socket, SHUT_RDWR);
    }
    // Only the acceptor adds clients, and it has ended.
    for (Client& client : clients_) {
        if (client.thread.joinable()) client.thread.join();
        ::close(client.socket);
    }
    clients_.clear();
    if (listener_ >= 0) ::close(listener_);
    if (wake_ >= 0) ::close(wake_);
    listener_ = wake_ = -1;
}

void MeterServer::Accept() {
    while (AwaitReadable(listener_, wake_)) {
        const int socket = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (socket < 0) continue;   // the client left before it was accepted, or a transient error
        ReapFinished();
        if (OpenClients() >= kMostClients) {
            ::close(socket);
            if (log_) log_("refused a client: " + std::to_string(kMostClients) + " clients are connected, the most it serves");
            continue;
        }
        const int lowDelay = 1;
        ::setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &lowDelay, sizeof lowDelay);
        const std::lock_guard lock(mutex_);
        Client& client = clients_.emplace_back();
        client.socket = socket;
        client.thread = std::thread([this, &client] { Serve(client); });
    }
}

void MeterServer::Serve(Client& client) {
    try {
        const LineRunner run = start_();
        scpi::InputLines lines;
        char chunk[kReadChunk];
        bool open = true;
        while (open && AwaitReadable(client.socket, wake_)) {
            const ssize_t received = ::recv(client.socket, chunk, sizeof chunk, 0);
            if (received < 0 && errno == EINTR) continue;
            if (received <= 0) break;
            lines.Feed({chunk, static_cast<std::size_t>(received)});
            while (open) {
                const std::optional<scpi::InputLines::Line> line = lines.Next();
                if (!line) break;
                if (const std::optional<std::string> reply = run(*line)) {
                    open = posix_io::WriteAll(client.socket, *reply + "\n");
                }
            }
        }
    } catch (const std::exception&) {
        // The runner gave up on the client (the meter stops): the connection ends.
    }
    ::shutdown(client.socket, SHUT_RDWR);
    const std::lock_guard lock(mutex_);
    client.done = true;
}

void MeterServer::ReapFinished() {
    std::list<Client> finished;
    {
        const std::lock_guard lock(mutex_);
        for (auto it = clients_.begin(); it != clients_.end();) {
            const auto next = std::next(it);
            if (it->done) finished.splice(finished.end(), clients_, it);
            it = next;
        }
    }
    for (Client& client : finished) {
        client.thread.join();
        ::close(client.socket);
    }
}

unsigned MeterServer::OpenClients() {
    const std::lock_guard lock(mutex_);
    return static_cast<unsigned>(clients_.size());
}

}  // namespace tarnel::emulator
