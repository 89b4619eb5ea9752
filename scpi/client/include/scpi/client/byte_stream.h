// A byte stream on a file descriptor (a TCP socket, a serial line, a
// pseudo-terminal), with every wait bounded: whole writes, and reads up to a
// line feed. The socket, serial and GPIB-adapter transports carry their
// messages on it. `name` is how its failures name the other end ("the meter
// at 127.0.0.1:5025"); `fix` ends every message of a failure in use.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

#include "scpi/client/instrument_failure.h"

namespace tarnel::scpi::client {

class ByteStream {
public:
    using Clock = std::chrono::steady_clock;

    // Takes ownership of fd, which must be non-blocking.
    ByteStream(int fd, std::string name, std::string fix);
    ~ByteStream();
    ByteStream(const ByteStream&) = delete;
    ByteStream& operator=(const ByteStream&) = delete;

    int Fd() const { return fd_; }
    const std::string& Name() const { return name_; }

    // All of bytes, within timeout; Timeout or Lost otherwise.
    void WriteAll(std::string_view bytes, std::chrono::milliseconds timeout);
    // The next line without its LF (and a CR before it), waiting until
    // deadline; Timeout (`query` names what was asked), Lost, or Garbled for
    // more than kLongestLine bytes without a line end, or bytes without one
    // when the deadline passes.
    std::string ReadLine(Clock::time_point deadline, std::string_view query);
    // Whatever bytes arrive until deadline or until some arrived; empty when
    // none did. For protocols that read what is there (an adapter's answer).
    std::string ReadSome(Clock::time_point deadline);
    // Drops what was received and not handed out, and what is waiting in the
    // descriptor now.
    void Discard();
    // The bytes received and not yet handed out.
    const std::string& Pending() const { return received_; }

    // One line of a failure, with the fix.
    [[noreturn]] void Fail(FailureKind kind, const std::string& what) const;

    static constexpr std::size_t kLongestLine = 1 << 20;

private:
    // Reads what is there into received_; false when nothing came by deadline.
    bool Fill(Clock::time_point deadline);

    int fd_;
    std::string name_;
    std::string fix_;
    std::string received_;
};

// Waits until fd is ready for events or the deadline passes; false on timeout.
bool WaitFor(int fd, short events, ByteStream::Clock::time_point deadline);
// "1.5 s".
std::string SecondsText(std::chrono::milliseconds duration);

}  // namespace tarnel::scpi::client
