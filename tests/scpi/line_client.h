// A plain blocking TCP client of the SCPI server on 127.0.0.1, for tests that
// go through real sockets. A read waits at most 10 s.
#pragma once

#include <cstdint>
#include <string>

namespace tarnel::scpi {

class LineClient {
public:
    explicit LineClient(std::uint16_t port);
    ~LineClient();
    LineClient(const LineClient&) = delete;
    LineClient& operator=(const LineClient&) = delete;

    // The reply line; "" when the server closed (or reset) the connection,
    // "<no reply>" when none came in time.
    std::string Query(const std::string& message);

private:
    int socket_;
    bool connected_ = false;
};

// The port of an address as ScpiServer::ListeningOn gives it.
std::uint16_t PortOf(const std::string& address);

}  // namespace tarnel::scpi
