#include "scpi/client/gpib_adapter_transport.h"

#include <algorithm>

#include "scpi/client/byte_stream.h"
#include "scpi/client/gpib_escaping.h"
#include "scpi/client/instrument_failure.h"
#include "scpi/client/tcp_connect.h"
#include "serial_port.h"

namespace tarnel::scpi::client {

namespace {

constexpr auto kSendTimeout = std::chrono::seconds(5);
// How long the adapter waits for each character of a reply before it gives
// up on a ++read; a reading that takes longer is asked for again.
constexpr unsigned kAdapterReadTimeoutMs = 500;
// Beyond its read timeout, the time the adapter and the link to it may take
// before what it read reaches us.
constexpr auto kAdapterLatency = std::chrono::milliseconds(300);
constexpr auto kVersionWait = std::chrono::seconds(2);
// The USB-serial adapters take any rate; this one is what they are set up with.
constexpr SerialSettings kAdapterLine{115200, 8, Parity::None, 1, Handshake::None};

class GpibAdapterTransport final : public Transport {
public:
    GpibAdapterTransport(int fd, const GpibResource& resource, const GpibAdapter& adapter)
        : stream_(fd, "the GPIB adapter " + GpibAdapterText(adapter),
                  std::holds_alternative<SerialAdapter>(adapter)
                      ? "check the adapter's USB cable, then run again"
                      : "check the adapter's LAN connection, then run again"),
          resource_(resource),
          adapter_(adapter),
          serialDevice_(std::holds_alternative<SerialAdapter>(adapter)) {}

    ~GpibAdapterTransport() override {
        if (serialDevice_) EndExclusiveUse(stream_.Fd());
    }

    // Asks for the adapter's version, then sets it up as controller of the instrument's address.
    void SetUp(std::chrono::milliseconds timeout) {
        stream_.Discard();
        try {
            Command("++ver");
            version_ = stream_.ReadLine(ByteStream::Clock::now() + std::min<std::chrono::milliseconds>(timeout, kVersionWait),
                                        "++ver");
        } catch (const InstrumentFailure& failure) {
            // The cause without the fix of a failure in use: the fix here is another.
            const std::string cause(std::string_view(failure.what()).substr(0, std::string_view(failure.what()).find(" — ")));
            throw InstrumentFailure(FailureKind::Unreachable,
                                    cause + " — check that it is a \"++\" GPIB adapter, powered and connected, and that "
                                        "no other program uses it");
        }
        Command("++mode 1");
        Command("++addr " + std::to_string(resource_.address));
        Command("++auto 0");
        Command("++eoi 1");
        Command("++eos 3");
        Command("++read_tmo_ms " + std::to_string(kAdapterReadTimeoutMs));
    }

    void Send(std::string_view message) override { stream_.WriteAll(gpib::Escaped(message) + "\n", kSendTimeout); }

    std::string Receive(std::chrono::milliseconds timeout, std::string_view query) override {
        const auto deadline = ByteStream::Clock::now() + timeout;
        for (;;) {
            if (auto line = TakeLine()) return *line;
            if (ByteStream::Clock::now() >= deadline) FailTimeout(timeout, query);
            Command("++read eoi");
            // The adapter sends the reply, or nothing once no character came for its read timeout.
            const auto quiet = std::chrono::milliseconds(kAdapterReadTimeoutMs) + kAdapterLatency;
            for (;;) {
                const std::string some = stream_.ReadSome(std::min(ByteStream::Clock::now() + quiet, deadline));
                if (some.empty()) break;
                received_ += some;
                if (received_.find('\n') != std::string::npos) break;
                if (received_.size() > ByteStream::kLongestLine) {
                    received_.clear();
                    stream_.Fail(FailureKind::Garbled,
                                 Describe() + " sent over 1 MiB without a line end after " + std::string(query));
                }
            }
        }
    }

    void Clear() override {
        Command("++clr");
        received_.clear();
        stream_.Discard();
    }

    std::string Describe() const override {
        return InstrumentResource{resource_}.Text() + " via " + GpibAdapterText(adapter_);
    }

    std::vector<std::pair<std::string, std::string>> Details() const override { return {{"GPIB adapter", version_}}; }

private:
    void Command(const std::string& command) { stream_.WriteAll(command + "\n", kSendTimeout); }

    std::optional<std::string> TakeLine() {
        const std::size_t end = received_.find('\n');
        if (end == std::string::npos) return std::nullopt;
        std::string line = received_.substr(0, end);
        received_.erase(0, end + 1);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        return line;
    }

    [[noreturn]] void FailTimeout(std::chrono::milliseconds timeout, std::string_view query) const {
        const std::string address = std::to_string(resource_.address);
        throw InstrumentFailure(FailureKind::Timeout,
                                "no instrument answered " + std::string(query) + " at GPIB address " + address +
                                    " through the adapter " + GpibAdapterText(adapter_) + " within " +
                                    SecondsText(timeout) + " — check the meter's GPIB address (" + address +
                                    " here), that the meter is on and that its GPIB cable reaches the adapter");
    }

    ByteStream stream_;
    GpibResource resource_;
    GpibAdapter adapter_;
    bool serialDevice_;
    std::string version_;
    std::string received_;   // read from the adapter, not yet handed out
};

}  // namespace

std::unique_ptr<Transport> OpenGpibAdapterTransport(const GpibResource& resource, const GpibAdapter& adapter,
                                                    std::chrono::milliseconds timeout) {
    int fd = -1;
    if (const auto* device = std::get_if<SerialAdapter>(&adapter)) {
        fd = OpenSerialPort(device->path, kAdapterLine, "GPIB adapter");
    } else {
        const auto& lan = std::get<LanAdapter>(adapter);
        std::string reason;
        fd = ConnectTcp(lan.host, lan.port, timeout, reason);
        if (fd < 0) {
            throw InstrumentFailure(FailureKind::Unreachable,
                                    "cannot reach the GPIB adapter at " + GpibAdapterText(adapter) + ": " + reason +
                                        " — check that the adapter is on and on the LAN, and give its address "
                                        "(--gpib-adapter HOST[:PORT], port 1234 unless given)");
        }
    }
    auto transport = std::make_unique<GpibAdapterTransport>(fd, resource, adapter);
    transport->SetUp(timeout);
    return transport;
}

}  // namespace tarnel::scpi::client
