// One connection to a SCPI instrument, whatever carries it. A transport
// moves whole messages: Send takes one program message without its end and
// adds what the connection ends a message with (a line end, USBTMC's EOM, a
// GPIB adapter's unescaped line end); Receive gives one response message
// without its end. Every wait is bounded. Failures are InstrumentFailure.
//
// One file per connection kind implements it: socket_transport (raw SCPI
// socket), vxi11_transport (VXI-11 on the LAN), usbtmc_transport (USBTMC/USB488 on libusb), serial_transport
// (RS-232), gpib_adapter_transport (GPIB through a "++" adapter).
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "scpi/client/connection_options.h"
#include "scpi/client/instrument_resource.h"

namespace tarnel::scpi::client {

class Transport {
public:
    virtual ~Transport() = default;

    virtual void Send(std::string_view message) = 0;
    // `query` names what was asked, for the message of a timeout.
    virtual std::string Receive(std::chrono::milliseconds timeout, std::string_view query) = 0;
    // Brings the instrument's input and output to a clean state (device
    // clear where the connection has one; otherwise pending bytes dropped).
    virtual void Clear() = 0;
    // The resource as messages name it: "USB0::0x1209::0xB212::EMU0001::INSTR",
    // "GPIB0::22::INSTR via /dev/ttyUSB0".
    virtual std::string Describe() const = 0;
    // Facts of the connection worth a line in a report, such as the GPIB
    // adapter's "++ver" answer: name and value.
    virtual std::vector<std::pair<std::string, std::string>> Details() const { return {}; }
    // Messages the instrument needs before anything else on this connection
    // (a classic meter on RS-232 takes commands only once put in remote).
    virtual std::vector<std::string> OpeningMessages() const { return {}; }
    // The instrument's status byte read beside the message exchange (USB488's
    // READ_STATUS_BYTE); nothing where the connection has no such read.
    virtual std::optional<std::uint8_t> ReadStatusByte() { return std::nullopt; }
};

// Opens the connection the resource names, within openTimeout for what
// opening waits for. Throws InstrumentFailure (an opening kind).
std::unique_ptr<Transport> OpenTransport(const InstrumentResource& resource, const ConnectionOptions& options,
                                         std::chrono::milliseconds openTimeout);

}  // namespace tarnel::scpi::client
