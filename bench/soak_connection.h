// One client connection of the soak run to the server on 127.0.0.1: lines
// out, reply lines back, each read bounded in time.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace tarnel::bench {

class SoakConnection {
public:
    SoakConnection(std::uint16_t port, std::chrono::seconds replyBound);
    ~SoakConnection();
    SoakConnection(const SoakConnection&) = delete;
    SoakConnection& operator=(const SoakConnection&) = delete;

    // The reply; empty when the server closed or reset the connection, or
    // gave no reply within the bound (TimedOut() tells which).
    std::optional<std::string> Query(const std::string& message);
    bool TimedOut() const { return timedOut_; }

private:
    int socket_ = -1;
    std::string buffer_;
    bool timedOut_ = false;
};

}  // namespace tarnel::bench
