// How a connection is set up beyond its resource: the serial line's settings
// (--serial BAUD[,8N1][,none|rtscts|xonxoff|dtrdsr]), the line end sent on a
// serial line (--eol lf|crlf), and the GPIB adapter (--gpib-adapter
// DEVICE|HOST[:PORT]).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace tarnel::scpi::client {

enum class Handshake { None, RtsCts, XonXoff, DtrDsr };
enum class Parity { None, Even, Odd };

struct SerialSettings {
    unsigned baud = 9600;
    unsigned dataBits = 8;        // 5..8
    Parity parity = Parity::None;
    unsigned stopBits = 1;        // 1 or 2
    Handshake handshake = Handshake::None;

    // "9600,8N1,none", as messages and reports name the settings.
    std::string Text() const;
};

enum class LineEnd { Lf, CrLf };

// A "++" GPIB adapter: a serial device (USB-serial adapters) or a TCP host (LAN adapters).
struct SerialAdapter {
    std::string path;
};
struct LanAdapter {
    std::string host;
    std::uint16_t port = 1234;   // the port the LAN adapters listen on
};
using GpibAdapter = std::variant<SerialAdapter, LanAdapter>;

struct ConnectionOptions {
    SerialSettings serial;
    LineEnd lineEnd = LineEnd::Lf;
    std::optional<GpibAdapter> gpibAdapter;   // required by a GPIB resource
};

// Nothing for text that is not of the form, a baud rate the line cannot take
// (the standard rates 50..4000000), or a frame other than 5-8 data bits,
// N/E/O parity and 1 or 2 stop bits.
std::optional<SerialSettings> ParseSerialSettings(std::string_view text);
std::optional<LineEnd> ParseLineEnd(std::string_view text);
// A path (it starts with '/') is a serial adapter; anything else HOST[:PORT].
std::optional<GpibAdapter> ParseGpibAdapter(std::string_view text);
std::string GpibAdapterText(const GpibAdapter& adapter);

}  // namespace tarnel::scpi::client
