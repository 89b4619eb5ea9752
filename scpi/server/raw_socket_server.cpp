#include "scpi/raw_socket_server.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

namespace tarnel::scpi {

namespace {

using Clock = std::chrono::steady_clock;

// How long replies of the last messages may wait for a client that does not
// read them, at a stop.
constexpr auto kFlushBound = std::chrono::seconds(3);
// How long accepting pauses when the process has no descriptor left for a client.
constexpr auto kAcceptPause = std::chrono::milliseconds(100);

int MillisecondsUntil(Clock::time_point at) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(at - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, 60'000));
}

}  // namespace

RawSocketServer::RawSocketServer(ServedInstrument& instrument, ServerSettings settings)
    : instrument_(instrument), settings_(std::move(settings)) {
    if (settings_.notifiesServiceManager) serviceManager_.emplace(settings_.log);
}

RawSocketServer::~RawSocketServer() { Stop(); }

std::optional<std::string> RawSocketServer::Listen() {
    if (loop_.joinable()) return "cannot listen on " + settings_.address.Text() + ": the server listens already";
    if (auto problem = listener_.Open(settings_.address)) return problem;
    wake_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake_ < 0) {
        listener_.Close();
        return "cannot listen on " + settings_.address.Text() + ": " + std::strerror(errno);
    }
    if (serviceManager_) serviceManager_->Ready("serves SCPI on " + ListeningOn().Text());
    stopRequested_ = false;
    loop_ = std::thread([this] { Loop(); });
    return std::nullopt;
}

void RawSocketServer::Stop() {
    if (loop_.joinable()) {
        stopRequested_ = true;
        Wake();
        loop_.join();
    }
    listener_.Close();
    if (wake_ >= 0) ::close(wake_);
    wake_ = -1;
}

void RawSocketServer::Loop() {
    const std::optional<std::chrono::milliseconds> pingInterval =
        serviceManager_ ? serviceManager_->PingInterval() : std::nullopt;
    auto nextPing = Clock::now() + pingInterval.value_or(std::chrono::milliseconds(0));
    std::vector<pollfd> watched;
    std::vector<std::uint64_t> ids;   // the connection of each entry after the first two
    while (!stopRequested_) {
        const bool accepting = Clock::now() >= acceptPausedUntil_;
        watched.assign({{wake_, POLLIN, 0}, {accepting ? listener_.Descriptor() : -1, POLLIN, 0}});
        ids.clear();
        for (const auto& [id, connection] : connections_) {
            const short events = connection->Events();
            // A socket with nothing to wait for is left out: poll would report
            // its hang-up again and again.
            watched.push_back({events != 0 ? connection->Socket() : -1, events, 0});
            ids.push_back(id);
        }
        int timeout = -1;
        if (pingInterval) timeout = MillisecondsUntil(nextPing);
        if (!accepting) timeout = timeout < 0 ? MillisecondsUntil(acceptPausedUntil_)
                                              : std::min(timeout, MillisecondsUntil(acceptPausedUntil_));
        const int ready = ::poll(watched.data(), watched.size(), timeout);
        if (ready < 0 && errno != EINTR) {
            Log(std::string("the server's loop cannot wait for its clients: ") + std::strerror(errno) +
                " — it stops serving");
            break;
        }
        if (pingInterval && Clock::now() >= nextPing) {
            serviceManager_->Ping();
            nextPing = Clock::now() + *pingInterval;
        }
        if (ready <= 0) continue;
        if (watched[0].revents != 0) {
            std::uint64_t count = 0;
            [[maybe_unused]] const ssize_t got = ::read(wake_, &count, sizeof count);
            DeliverAnswers(true);
        }
        if (watched[1].revents != 0) Accept();
        for (std::size_t i = 0; i < ids.size(); ++i) {
            const short revents = watched[i + 2].revents;
            if (revents == 0) continue;
            const auto found = connections_.find(ids[i]);
            if (found == connections_.end()) continue;
            if (revents & (POLLIN | POLLHUP | POLLERR)) found->second->OnReadable();
            if (revents & POLLOUT) found->second->SendSome();
            Pump(ids[i]);
        }
    }
    Shutdown();
}

void RawSocketServer::Accept() {
    while (true) {
        sockaddr_storage peer{};
        socklen_t length = sizeof peer;
        const int socket = ::accept4(listener_.Descriptor(), reinterpret_cast<sockaddr*>(&peer), &length,
                                     SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (socket < 0) {
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                // The client waits in the backlog; a busy loop would not help it.
                acceptPausedUntil_ = Clock::now() + kAcceptPause;
                if (!acceptFailureLogged_) {
                    Log(std::string("cannot accept a client: ") + std::strerror(errno) +
                        " — raise the open-files limit (ulimit -n) or lower the number of clients");
                }
                acceptFailureLogged_ = true;
            }
            // Otherwise none is waiting, or it left before it was accepted.
            return;
        }
        acceptFailureLogged_ = false;
        if (!Admitted(socket, peer)) {
            ::close(socket);
            continue;
        }
        // Replies are short and a client waits for each: send them at once.
        const int lowDelay = 1;
        ::setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &lowDelay, sizeof lowDelay);
        const std::uint64_t id = ++lastId_;
        connections_.emplace(id, std::make_unique<ClientConnection>(socket, instrument_.Connect()));
        Pump(id);
    }
}

bool RawSocketServer::Admitted(int socket, const sockaddr_storage& peer) {
    if (settings_.admit) {
        if (const std::optional<std::string> refusal = settings_.admit(peer)) {
            Log(*refusal);
            const std::string line = *refusal + "\n";
            // A short line into an empty socket buffer: it goes at once or not at all.
            [[maybe_unused]] const ssize_t sent = ::send(socket, line.data(), line.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
            ::shutdown(socket, SHUT_WR);
            return false;
        }
    }
    if (OpenClients() >= settings_.maxClients) {
        const std::string limit = settings_.maxClientsOption.empty() ? "it serves" : settings_.maxClientsOption + " allows";
        Log("refused the client at " + PeerText(peer) + ": " + std::to_string(settings_.maxClients) +
            " clients are connected, the most " + limit);
        return false;
    }
    return true;
}

void RawSocketServer::Pump(std::uint64_t id) {
    const auto found = connections_.find(id);
    if (found == connections_.end()) return;
    ClientConnection& connection = *found->second;
    while (std::optional<InputLines::Line> line = connection.TakeLine()) {
        connection.Client().Submit(std::move(*line), [this, id](std::optional<std::string> reply) {
            PostAnswer(id, std::move(reply));
        });
    }
    if (connection.Finished()) connections_.erase(found);
}

void RawSocketServer::PostAnswer(std::uint64_t id, std::optional<std::string> reply) {
    {
        const std::lock_guard lock(answersMutex_);
        answers_.emplace_back(id, std::move(reply));
    }
    Wake();
}

void RawSocketServer::DeliverAnswers(bool pumping) {
    std::deque<std::pair<std::uint64_t, std::optional<std::string>>> arrived;
    {
        const std::lock_guard lock(answersMutex_);
        arrived.swap(answers_);
    }
    // In the order they were posted, so each connection's replies keep the
    // order of its lines.
    for (const auto& [id, reply] : arrived) {
        const auto found = connections_.find(id);
        if (found == connections_.end()) continue;
        found->second->Answer(reply);
        if (pumping) Pump(id);
    }
}

void RawSocketServer::Wake() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(wake_, &one, sizeof one);
}

void RawSocketServer::Shutdown() {
    if (serviceManager_) serviceManager_->Stopping();
    listener_.Close();
    // Each waits for its client's message running, whose answer is then posted.
    for (auto& [id, connection] : connections_) connection->Client().Close();
    DeliverAnswers(false);
    const auto deadline = Clock::now() + kFlushBound;
    std::vector<pollfd> watched;
    while (Clock::now() < deadline) {
        watched.clear();
        for (const auto& [id, connection] : connections_) {
            if (connection->HasUnsent()) watched.push_back({connection->Socket(), POLLOUT, 0});
        }
        if (watched.empty()) break;
        if (::poll(watched.data(), watched.size(), MillisecondsUntil(deadline)) < 0 && errno != EINTR) break;
        for (auto& [id, connection] : connections_) connection->SendSome();
    }
    connections_.clear();
}

void RawSocketServer::Log(const std::string& line) const {
    if (settings_.log) settings_.log(line);
}

std::size_t RawSocketServer::OpenClients() const {
    std::size_t open = 0;
    for (const auto& [id, connection] : connections_) open += connection->Open() ? 1 : 0;
    return open;
}

}  // namespace tarnel::scpi
