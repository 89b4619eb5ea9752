// Where an instrument is, written as VISA writes resources (keywords in any
// case, board numbers optional):
//   TCPIP[n]::HOST::PORT::SOCKET, or HOST:PORT       a raw SCPI socket
//   TCPIP[n]::HOST[::DEVICE]::INSTR                   VXI-11 (DEVICE inst0 unless given)
//   USB[n]::VID::PID::SERIAL[::IFACE]::INSTR          USBTMC (ids in hex 0x2A8D or decimal)
//   ASRL/dev/ttyUSB0::INSTR, ASRL<path>::INSTR, or the device path itself   RS-232
//   GPIB[n]::ADDR::INSTR                              GPIB, through a "++" adapter
// HOST is a name, an IPv4 address, or an IPv6 address in brackets.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace tarnel::scpi::client {

struct SocketResource {
    std::string host;   // without brackets
    std::uint16_t port = 0;
};

struct Vxi11Resource {
    unsigned board = 0;
    std::string host;               // without brackets
    std::string device = "inst0";   // the device name the link is made to: inst0, gpib0,22
};

struct UsbResource {
    unsigned board = 0;
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::string serial;                              // never empty
    std::optional<std::uint8_t> interfaceNumber;     // none: the first USBTMC interface
};

struct SerialResource {
    std::string path;   // /dev/ttyUSB0
};

struct GpibResource {
    unsigned board = 0;
    unsigned address = 0;   // primary address 0..30
};

struct InstrumentResource {
    std::variant<SocketResource, Vxi11Resource, UsbResource, SerialResource, GpibResource> where;

    // The resource in its VISA form, as messages and listings name it:
    // "TCPIP0::127.0.0.1::5025::SOCKET", "TCPIP0::10.0.0.5::inst0::INSTR",
    // "USB0::0x1209::0xB212::EMU0001::INSTR",
    // "ASRL/dev/ttyUSB0::INSTR", "GPIB0::22::INSTR".
    std::string Text() const;
};

// Nothing for text that is none of the forms, or a value out of its range.
std::optional<InstrumentResource> ParseInstrumentResource(std::string_view text);

// The host as resources and messages write it: an IPv6 address in brackets.
std::string HostText(const std::string& host);
// "HOST:PORT", brackets around an IPv6 address.
std::string SocketText(const SocketResource& socket);

}  // namespace tarnel::scpi::client
