#include "scpi/client/socket_transport.h"

#include "scpi/client/byte_stream.h"
#include "scpi/client/instrument_failure.h"
#include "scpi/client/tcp_connect.h"

namespace tarnel::scpi::client {

namespace {

constexpr auto kSendTimeout = std::chrono::seconds(5);

class SocketTransport final : public Transport {
public:
    SocketTransport(int fd, const SocketResource& resource)
        : stream_(fd, "the meter at " + SocketText(resource), "check the meter and its LAN connection, then run again"),
          resource_(resource) {}

    void Send(std::string_view message) override {
        std::string line(message);
        line += '\n';
        stream_.WriteAll(line, kSendTimeout);
    }

    std::string Receive(std::chrono::milliseconds timeout, std::string_view query) override {
        try {
            return stream_.ReadLine(ByteStream::Clock::now() + timeout, query);
        } catch (const InstrumentFailure&) {
            stream_.Discard();   // a reply cut short is no start of the next one
            throw;
        }
    }

    void Clear() override { stream_.Discard(); }

    std::string Describe() const override { return SocketText(resource_); }

private:
    ByteStream stream_;
    SocketResource resource_;
};

}  // namespace

std::unique_ptr<Transport> OpenSocketTransport(const SocketResource& resource, std::chrono::milliseconds timeout) {
    std::string reason;
    const int fd = ConnectTcp(resource.host, resource.port, timeout, reason);
    if (fd < 0) {
        throw InstrumentFailure(FailureKind::Unreachable,
                                "cannot reach the meter at " + SocketText(resource) + ": " + reason +
                                    " — check that the meter is on and on the LAN, and give its address and SCPI "
                                    "socket port (--meter HOST:5025 or TCPIP0::HOST::5025::SOCKET)");
    }
    return std::make_unique<SocketTransport>(fd, resource);
}

}  // namespace tarnel::scpi::client
