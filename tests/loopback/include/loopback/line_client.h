// A plain blocking TCP client on 127.0.0.1 that sends text and reads reply
// lines, for the tests and benchmarks that go through real sockets to a
// server (tarnelctl serve, the emulated meter). Each read waits at most the
// reply bound.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tarnel::loopback {

class LineClient {
public:
    explicit LineClient(std::uint16_t port, std::chrono::seconds replyBound = std::chrono::seconds(10));
    ~LineClient();
    LineClient(const LineClient&) = delete;
    LineClient& operator=(const LineClient&) = delete;

    bool Connected() const { return socket_ >= 0; }

    // All of text, as it is; false when not connected or the server closed
    // the connection.
    bool Send(std::string_view text);

    // The next line, without its line end; empty when the server closed or
    // reset the connection, or no whole line came within the bound
    // (TimedOut() tells which).
    std::optional<std::string> ReadLine();
    bool TimedOut() const { return timedOut_; }

    // message and a line end out, then the reply line as ReadLine() gives it.
    std::optional<std::string> Query(std::string_view message);

    // The same, as a test compares it: "" when the server closed (or reset)
    // the connection, "<no reply>" when none came in time.
    std::string Reply(std::string_view message);

private:
    int socket_ = -1;
    std::string buffer_;   // received, after the last line handed out
    bool timedOut_ = false;
};

// The port of an address as the servers give it ("127.0.0.1:5025", "[::1]:5025").
std::uint16_t PortOf(const std::string& address);

}  // namespace tarnel::loopback
