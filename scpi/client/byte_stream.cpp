#include "scpi/client/byte_stream.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace tarnel::scpi::client {

bool WaitFor(int fd, short events, ByteStream::Clock::time_point deadline) {
    for (;;) {
        // Rounded up, so that the wait never ends before the deadline.
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - ByteStream::Clock::now());
        pollfd entry{fd, events, 0};
        const int ready = ::poll(&entry, 1, static_cast<int>(std::clamp<long long>(left.count(), 0, 1 << 30)));
        if (ready > 0) return true;
        if (ready == 0 && ByteStream::Clock::now() >= deadline) return false;
        if (ready < 0 && errno != EINTR) return true;   // the read or write that follows reports the error
    }
}

std::string SecondsText(std::chrono::milliseconds duration) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", static_cast<double>(duration.count()) / 1000.0);
    return text;
}

ByteStream::ByteStream(int fd, std::string name, std::string fix)
    : fd_(fd), name_(std::move(name)), fix_(std::move(fix)) {}

ByteStream::~ByteStream() {
    if (fd_ >= 0) ::close(fd_);
}

void ByteStream::Fail(FailureKind kind, const std::string& what) const {
    throw InstrumentFailure(kind, what + " — " + fix_);
}

void ByteStream::WriteAll(std::string_view bytes, std::chrono::milliseconds timeout) {
    const Clock::time_point deadline = Clock::now() + timeout;
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t written = ::write(fd_, bytes.data() + sent, bytes.size() - sent);
        if (written >= 0) {
            sent += static_cast<std::size_t>(written);
        } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
            if (!WaitFor(fd_, POLLOUT, deadline)) {
                Fail(FailureKind::Timeout, name_ + " took no bytes for " + SecondsText(timeout));
            }
        } else if (errno == EPIPE || errno == ECONNRESET) {
            Fail(FailureKind::Lost, name_ + " closed the connection");
        } else if (errno == EIO || errno == ENODEV || errno == ENXIO) {
            Fail(FailureKind::Lost, name_ + " is gone (" + std::strerror(errno) + ")");
        } else if (errno != EINTR) {
            Fail(FailureKind::Lost, "the connection to " + name_ + " broke: " + std::strerror(errno));
        }
    }
}

bool ByteStream::Fill(Clock::time_point deadline) {
    if (!WaitFor(fd_, POLLIN, deadline)) return false;
    char buffer[4096];
    const ssize_t got = ::read(fd_, buffer, sizeof buffer);
    if (got > 0) {
        received_.append(buffer, static_cast<std::size_t>(got));
        return true;
    }
    if (got == 0 || errno == ECONNRESET) Fail(FailureKind::Lost, name_ + " closed the connection");
    if (errno == EIO || errno == ENODEV || errno == ENXIO) {
        Fail(FailureKind::Lost, name_ + " is gone (" + std::strerror(errno) + ")");
    }
    if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
        Fail(FailureKind::Lost, "the connection to " + name_ + " broke: " + std::strerror(errno));
    }
    return true;   // woken for nothing: the caller looks at the clock again
}

std::string ByteStream::ReadLine(Clock::time_point deadline, std::string_view query) {
    const Clock::time_point start = Clock::now();
    for (;;) {
        const std::size_t end = received_.find('\n');
        if (end != std::string::npos) {
            std::string line = received_.substr(0, end);
            received_.erase(0, end + 1);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            return line;
        }
        if (received_.size() > kLongestLine) {
            received_.clear();
            Fail(FailureKind::Garbled, name_ + " sent over 1 MiB without a line end after " + std::string(query));
        }
        if (!Fill(deadline) && Clock::now() >= deadline) {
            const std::string waited =
                SecondsText(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - start));
            if (!received_.empty()) {
                // Bytes came, but no line end: a reply that never ends.
                // They stay pending, for the caller to judge (Discard drops them).
                const std::size_t got = received_.size();
                Fail(FailureKind::Garbled, name_ + " sent " + std::to_string(got) +
                                               " bytes without a line end in reply to " + std::string(query) +
                                               " within " + waited);
            }
            Fail(FailureKind::Timeout, name_ + " did not answer " + std::string(query) + " within " + waited);
        }
    }
}

std::string ByteStream::ReadSome(Clock::time_point deadline) {
    while (received_.empty()) {
        if (!Fill(deadline) && Clock::now() >= deadline) return {};
    }
    std::string some;
    some.swap(received_);
    return some;
}

void ByteStream::Discard() {
    received_.clear();
    char buffer[4096];
    while (::read(fd_, buffer, sizeof buffer) > 0) {
    }
}

}  // namespace tarnel::scpi::client
