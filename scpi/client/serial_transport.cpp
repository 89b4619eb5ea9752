#include "scpi/client/serial_transport.h"

#include <sys/ioctl.h>
#include <termios.h>

#include <algorithm>
#include <thread>

#include "scpi/client/byte_stream.h"
#include "scpi/client/instrument_failure.h"
#include "serial_port.h"

namespace tarnel::scpi::client {

namespace {

constexpr auto kSendTimeout = std::chrono::seconds(5);
// How often DSR is looked at while the meter holds it down (no interrupt
// comes for it that a wait could be bounded on).
constexpr auto kDsrPoll = std::chrono::milliseconds(5);
// Bytes written between two looks at DSR: small enough for a meter's input
// buffer to take what was sent before it dropped DSR.
constexpr std::size_t kDsrChunk = 16;

// Printable ASCII, and the line end and tab bytes a reply may hold.
bool IsReplyText(std::string_view bytes) {
    return std::all_of(bytes.begin(), bytes.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return (byte >= 0x20 && byte < 0x7F) || c == '\r' || c == '\n' || c == '\t';
    });
}

class SerialTransport final : public Transport {
public:
    SerialTransport(int fd, const SerialResource& resource, const SerialSettings& settings, LineEnd lineEnd)
        : stream_(fd, "the meter on " + resource.path,
                  "check the cable (a null-modem cable when the meter is wired as a computer is), that --serial " +
                      settings.Text() + " matches the meter's baud rate, frame and handshake, and that the meter's "
                      "RS-232 interface is selected"),
          resource_(resource),
          settings_(settings),
          lineEnd_(lineEnd) {}

    ~SerialTransport() override { EndExclusiveUse(stream_.Fd()); }

    void Send(std::string_view message) override {
        std::string line(message);
        line += lineEnd_ == LineEnd::CrLf ? "\r\n" : "\n";
        if (settings_.handshake != Handshake::DtrDsr) {
            stream_.WriteAll(line, kSendTimeout);
            return;
        }
        const auto deadline = ByteStream::Clock::now() + kSendTimeout;
        for (std::size_t sent = 0; sent < line.size(); sent += kDsrChunk) {
            AwaitDsr(deadline);
            stream_.WriteAll(std::string_view(line).substr(sent, kDsrChunk), kSendTimeout);
        }
    }

    std::string Receive(std::chrono::milliseconds timeout, std::string_view query) override {
        std::string line;
        try {
            line = stream_.ReadLine(ByteStream::Clock::now() + timeout, query);
        } catch (const InstrumentFailure& failure) {
            // Bytes that came without a line end are either a reply cut short or garbage.
            const bool cutShort = failure.Kind() == FailureKind::Timeout || failure.Kind() == FailureKind::Garbled;
            if (cutShort && !IsReplyText(stream_.Pending())) FailGarbled(query);
            stream_.Discard();
            throw;
        }
        if (!IsReplyText(line)) FailGarbled(query);
        return line;
    }

    void Clear() override {
        ::tcflush(stream_.Fd(), TCIOFLUSH);
        stream_.Discard();
    }

    std::string Describe() const override { return InstrumentResource{resource_}.Text(); }

    std::vector<std::string> OpeningMessages() const override { return {"SYST:REM"}; }

private:
    [[noreturn]] void FailGarbled(std::string_view query) {
        stream_.Discard();
        throw InstrumentFailure(FailureKind::Garbled,
                                "garbage on the serial line " + resource_.path + " after " + std::string(query) +
                                    " — check that --serial matches the meter's baud rate, frame and handshake "
                                    "(now " + settings_.Text() + ")");
    }

    // Until the meter asserts DSR, the sign that it takes bytes.
    void AwaitDsr(ByteStream::Clock::time_point deadline) {
        for (;;) {
            const std::optional<int> lines = ModemLines(stream_.Fd());
            if (!lines) stream_.Fail(FailureKind::Lost, "the modem lines of " + resource_.path + " cannot be read any more");
            if (*lines & TIOCM_DSR) return;
            if (ByteStream::Clock::now() >= deadline) {
                stream_.Fail(FailureKind::Timeout,
                             "the meter on " + resource_.path + " kept DSR down for " + SecondsText(kSendTimeout) +
                                 " (DTR/DSR handshake)");
            }
            std::this_thread::sleep_for(kDsrPoll);
        }
    }

    ByteStream stream_;
    SerialResource resource_;
    SerialSettings settings_;
    LineEnd lineEnd_;
};

}  // namespace

std::unique_ptr<Transport> OpenSerialTransport(const SerialResource& resource, const SerialSettings& settings,
                                               LineEnd lineEnd, std::chrono::milliseconds) {
    const int fd = OpenSerialPort(resource.path, settings, "serial port");
    auto transport = std::make_unique<SerialTransport>(fd, resource, settings, lineEnd);
    if (settings.handshake == Handshake::DtrDsr) {
        if (!ModemLines(fd) || !SetModemLine(fd, TIOCM_DTR, true)) {
            SerialSettings other = settings;
            other.handshake = Handshake::RtsCts;
            throw InstrumentFailure(FailureKind::Unreachable,
                                    resource.path + " has no modem lines for the DTR/DSR handshake (a pseudo-terminal "
                                    "or an adapter without them) — use another handshake the meter offers: --serial " +
                                        other.Text() + ", xonxoff or none");
        }
    }
    return transport;
}

}  // namespace tarnel::scpi::client
