#include "cli/meter_connection.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "cli/command_failure.h"
#include "cli/meter_failure.h"

namespace tarnel::cli {

namespace {

using Clock = std::chrono::steady_clock;

// A line a SCPI meter sends is a few hundred bytes at most (a block of
// readings a few kB); anything far longer without a line end is not a reply.
constexpr std::size_t kLongestLine = 1 << 20;
constexpr auto kSendTimeout = std::chrono::seconds(5);

std::string Seconds(std::chrono::milliseconds duration) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", static_cast<double>(duration.count()) / 1000.0);
    return text;
}

// Waits until fd is ready for events or the deadline passes; false on timeout.
bool WaitFor(int fd, short events, Clock::time_point deadline) {
    for (;;) {
        // Rounded up, so that the wait never ends before the deadline.
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        pollfd entry{fd, events, 0};
        const int ready = ::poll(&entry, 1, static_cast<int>(std::max<long long>(left.count(), 0)));
        if (ready > 0) return true;
        if (ready == 0 && Clock::now() >= deadline) return false;
        if (ready < 0 && errno != EINTR) return true;   // the read or write that follows reports the error
    }
}

// A connected, non-blocking socket to one of the host's addresses, or -1
// with the reason of the last failure.
int ConnectWithin(const MeterResource& resource, std::chrono::milliseconds timeout, std::string& reason) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* addresses = nullptr;
    const int resolved = ::getaddrinfo(resource.host.c_str(), std::to_string(resource.port).c_str(), &hints, &addresses);
    if (resolved != 0) {
        reason = std::string("cannot resolve the host name: ") + ::gai_strerror(resolved);
        return -1;
    }
    const Clock::time_point deadline = Clock::now() + timeout;
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
            reason = error == ETIMEDOUT ? "no answer within " + Seconds(timeout) : std::strerror(error);
            ::close(fd);
        }
    }
    ::freeaddrinfo(addresses);
    return connected;
}

}  // namespace

MeterConnection::MeterConnection(const MeterResource& resource, std::chrono::milliseconds connectTimeout)
    : resource_(resource) {
    std::string reason;
    socket_ = ConnectWithin(resource_, connectTimeout, reason);
    if (socket_ < 0) {
        throw CommandFailure(ExitStatus::Unreachable,
                             "cannot reach the meter at " + resource_.Text() + ": " + reason +
                                 " — check that the meter is on and on the LAN, and give its address and SCPI socket "
                                 "port (--meter HOST:5025 or TCPIP0::HOST::5025::SOCKET)");
    }
}

MeterConnection::~MeterConnection() {
    if (socket_ >= 0) ::close(socket_);
}

void MeterConnection::Fail(const std::string& what) const {
    throw MeterFailure(what + " — check the meter and its LAN connection, then run again");
}

void MeterConnection::Send(std::string_view line) {
    const std::string text = std::string(line) + "\n";
    const Clock::time_point deadline = Clock::now() + kSendTimeout;
    std::size_t sent = 0;
    while (sent < text.size()) {
        const ssize_t written = ::send(socket_, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
        if (written >= 0) {
            sent += static_cast<std::size_t>(written);
        } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
            if (!WaitFor(socket_, POLLOUT, deadline)) {
                Fail("the meter at " + resource_.Text() + " took no command for " + Seconds(kSendTimeout));
            }
        } else if (errno == EPIPE || errno == ECONNRESET) {
            Fail("the meter at " + resource_.Text() + " closed the connection");
        } else if (errno != EINTR) {
            Fail("the connection to the meter at " + resource_.Text() + " broke: " + std::strerror(errno));
        }
    }
}

std::string MeterConnection::ReceiveLine(std::chrono::milliseconds timeout, std::string_view query) {
    const Clock::time_point deadline = Clock::now() + timeout;
    for (;;) {
        const std::size_t end = received_.find('\n');
        if (end != std::string::npos) {
            std::string line = received_.substr(0, end);
            received_.erase(0, end + 1);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            return line;
        }
        if (received_.size() > kLongestLine) {
            Fail("the meter at " + resource_.Text() + " sent over 1 MiB without a line end after " + std::string(query));
        }
        if (!WaitFor(socket_, POLLIN, deadline)) {
            Fail("the meter at " + resource_.Text() + " did not answer " + std::string(query) + " within " +
                 Seconds(timeout));
        }
        char buffer[4096];
        const ssize_t got = ::recv(socket_, buffer, sizeof buffer, 0);
        if (got > 0) {
            received_.append(buffer, static_cast<std::size_t>(got));
        } else if (got == 0 || errno == ECONNRESET) {
            Fail("the meter at " + resource_.Text() + " closed the connection");
        } else if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
            Fail("the connection to the meter at " + resource_.Text() + " broke: " + std::strerror(errno));
        }
    }
}

std::string MeterConnection::Query(std::string_view query, std::chrono::milliseconds timeout) {
    Send(query);
    return ReceiveLine(timeout, query);
}

}  // namespace tarnel::cli
