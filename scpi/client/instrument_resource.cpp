#include "scpi/client/instrument_resource.h"

#include <cctype>
#include <cstdio>
#include <vector>

namespace tarnel::scpi::client {

namespace {

char Upper(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }

// Whether text is upper (an upper-case keyword) in any case.
bool IsKeyword(std::string_view text, std::string_view upper) {
    if (text.size() != upper.size()) return false;
    for (std::size_t i = 0; i < upper.size(); ++i) {
        if (Upper(text[i]) != upper[i]) return false;
    }
    return true;
}

std::optional<unsigned long> Decimal(std::string_view text, unsigned long most) {
    if (text.empty() || text.size() > 10) return std::nullopt;
    unsigned long number = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        number = number * 10 + static_cast<unsigned long>(c - '0');
    }
    if (number > most) return std::nullopt;
    return number;
}

// A USB id: 0x-prefixed hex or decimal, 0..0xFFFF.
std::optional<std::uint16_t> UsbId(std::string_view text) {
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
        if (text.empty() || text.size() > 4) return std::nullopt;
        unsigned value = 0;
        for (const char c : text) {
            if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
            value = value * 16 + static_cast<unsigned>(std::isdigit(static_cast<unsigned char>(c)) ? c - '0'
                                                                                                   : Upper(c) - 'A' + 10);
        }
        return static_cast<std::uint16_t>(value);
    }
    const auto value = Decimal(text, 0xFFFF);
    if (!value) return std::nullopt;
    return static_cast<std::uint16_t>(*value);
}

std::optional<std::uint16_t> Port(std::string_view text) {
    const auto number = Decimal(text, 65535);
    if (!number || *number == 0) return std::nullopt;
    return static_cast<std::uint16_t>(*number);
}

// A host name or IPv4 address (letters, digits, '.', '-', '_'), or an IPv6
// address in brackets; the brackets are dropped.
std::optional<std::string> Host(std::string_view text) {
    if (text.size() >= 2 && text.front() == '[' && text.back() == ']') {
        text = text.substr(1, text.size() - 2);
        if (text.empty()) return std::nullopt;
        for (const char c : text) {
            if (!std::isxdigit(static_cast<unsigned char>(c)) && c != ':' && c != '.') return std::nullopt;
        }
        return std::string(text);
    }
    if (text.empty()) return std::nullopt;
    for (const char c : text) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '-' && c != '_') return std::nullopt;
    }
    return std::string(text);
}

std::optional<InstrumentResource> Socket(std::string_view host, std::string_view port) {
    const auto name = Host(host);
    const auto number = Port(port);
    if (!name || !number) return std::nullopt;
    return InstrumentResource{SocketResource{*name, *number}};
}

// The next "::" separator, outside brackets: an IPv6 address such as
// [::1] holds colons of its own.
std::size_t FindSeparator(std::string_view text) {
    bool bracketed = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '[') bracketed = true;
        if (text[i] == ']') bracketed = false;
        if (!bracketed && text.substr(i, 2) == "::") return i;
    }
    return std::string_view::npos;
}

// The fields between "::" separators.
std::vector<std::string_view> Fields(std::string_view text) {
    std::vector<std::string_view> fields;
    for (;;) {
        const std::size_t separator = FindSeparator(text);
        fields.push_back(text.substr(0, separator));
        if (separator == std::string_view::npos) return fields;
        text.remove_prefix(separator + 2);
    }
}

// The interface keyword at the start of text with its optional board number:
// "USB0" -> board 0; nothing when text does not start with the keyword.
std::optional<unsigned> Board(std::string_view field, std::string_view keyword) {
    if (field.size() < keyword.size() || !IsKeyword(field.substr(0, keyword.size()), keyword)) return std::nullopt;
    const std::string_view number = field.substr(keyword.size());
    if (number.empty()) return 0u;
    const auto board = Decimal(number, 255);
    if (!board) return std::nullopt;
    return static_cast<unsigned>(*board);
}

bool PrintableSerial(std::string_view serial) {
    if (serial.empty()) return false;
    for (const char c : serial) {
        if (!std::isgraph(static_cast<unsigned char>(c)) || c == ':') return false;
    }
    return true;
}

std::optional<InstrumentResource> Usb(const std::vector<std::string_view>& fields) {
    // USB[n]::VID::PID::SERIAL[::IFACE]::INSTR
    if (fields.size() != 5 && fields.size() != 6) return std::nullopt;
    const auto board = Board(fields[0], "USB");
    const auto vendor = UsbId(fields[1]);
    const auto product = UsbId(fields[2]);
    if (!board || !vendor || !product || !PrintableSerial(fields[3])) return std::nullopt;
    UsbResource usb{*board, *vendor, *product, std::string(fields[3]), std::nullopt};
    if (fields.size() == 6) {
        const auto number = Decimal(fields[4], 255);
        if (!number) return std::nullopt;
        usb.interfaceNumber = static_cast<std::uint8_t>(*number);
    }
    return InstrumentResource{usb};
}

std::optional<InstrumentResource> Gpib(const std::vector<std::string_view>& fields) {
    // GPIB[n]::ADDR::INSTR
    if (fields.size() != 3) return std::nullopt;
    const auto board = Board(fields[0], "GPIB");
    const auto address = Decimal(fields[1], 30);
    if (!board || !address) return std::nullopt;
    return InstrumentResource{GpibResource{*board, static_cast<unsigned>(*address)}};
}

std::optional<InstrumentResource> Tcpip(const std::vector<std::string_view>& fields) {
    // TCPIP[n]::HOST::PORT::SOCKET
    if (fields.size() != 4 || !Board(fields[0], "TCPIP") || !IsKeyword(fields[3], "SOCKET")) return std::nullopt;
    return Socket(fields[1], fields[2]);
}

// A VXI-11 device name: a letter, then letters, digits, ',', '_' or '.'
// ("inst0", "gpib0,22"). Names that start with "hislip" select another LAN
// protocol, which this client does not speak.
bool ValidDeviceName(std::string_view name) {
    if (name.empty() || name.size() > 64 || !std::isalpha(static_cast<unsigned char>(name.front()))) return false;
    if (name.size() >= 6 && IsKeyword(name.substr(0, 6), "HISLIP")) return false;
    for (const char c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != ',' && c != '_' && c != '.') return false;
    }
    return true;
}

std::optional<InstrumentResource> Vxi11(const std::vector<std::string_view>& fields) {
    // TCPIP[n]::HOST[::DEVICE]::INSTR
    if (fields.size() != 3 && fields.size() != 4) return std::nullopt;
    const auto board = Board(fields[0], "TCPIP");
    const auto host = Host(fields[1]);
    if (!board || !host) return std::nullopt;
    Vxi11Resource vxi11{*board, *host};
    if (fields.size() == 4) {
        if (!ValidDeviceName(fields[2])) return std::nullopt;
        vxi11.device = std::string(fields[2]);
    }
    return InstrumentResource{vxi11};
}

bool ValidPath(std::string_view path) {
    if (path.size() < 2 || path.front() != '/') return false;
    for (const char c : path) {
        if (c == '\0' || !std::isprint(static_cast<unsigned char>(c))) return false;
    }
    return true;
}

}  // namespace

std::string HostText(const std::string& host) {
    return host.find(':') != std::string::npos ? "[" + host + "]" : host;
}

std::string SocketText(const SocketResource& socket) { return HostText(socket.host) + ":" + std::to_string(socket.port); }

std::string InstrumentResource::Text() const {
    struct Writer {
        std::string operator()(const SocketResource& socket) const {
            return "TCPIP0::" + HostText(socket.host) + "::" + std::to_string(socket.port) +
                   "::SOCKET";
        }
        std::string operator()(const Vxi11Resource& vxi11) const {
            return "TCPIP" + std::to_string(vxi11.board) + "::" + HostText(vxi11.host) + "::" + vxi11.device + "::INSTR";
        }
        std::string operator()(const UsbResource& usb) const {
            char ids[32];
            std::snprintf(ids, sizeof ids, "::0x%04X::0x%04X::", usb.vendorId, usb.productId);
            std::string text = "USB" + std::to_string(usb.board) + ids + usb.serial;
            if (usb.interfaceNumber) text += "::" + std::to_string(*usb.interfaceNumber);
            return text + "::INSTR";
        }
        std::string operator()(const SerialResource& serial) const { return "ASRL" + serial.path + "::INSTR"; }
        std::string operator()(const GpibResource& gpib) const {
            return "GPIB" + std::to_string(gpib.board) + "::" + std::to_string(gpib.address) + "::INSTR";
        }
    };
    return std::visit(Writer{}, where);
}

std::optional<InstrumentResource> ParseInstrumentResource(std::string_view text) {
    if (text.empty()) return std::nullopt;
    if (text.front() == '/') {
        if (!ValidPath(text)) return std::nullopt;
        return InstrumentResource{SerialResource{std::string(text)}};
    }
    if (text.size() > 4 && IsKeyword(text.substr(0, 4), "ASRL")) {
        // ASRL<path>::INSTR; a board number in place of a path names no device file.
        constexpr std::string_view kInstr = "::INSTR";
        if (text.size() <= kInstr.size() || !IsKeyword(text.substr(text.size() - kInstr.size()), kInstr)) {
            return std::nullopt;
        }
        const std::string_view path = text.substr(4, text.size() - 4 - kInstr.size());
        if (!ValidPath(path)) return std::nullopt;
        return InstrumentResource{SerialResource{std::string(path)}};
    }
    if (FindSeparator(text) != std::string_view::npos) {
        const std::vector<std::string_view> fields = Fields(text);
        if (!IsKeyword(fields.back(), "INSTR")) return Tcpip(fields);
        if (Board(fields[0], "TCPIP")) return Vxi11(fields);
        if (Board(fields[0], "USB")) return Usb(fields);
        if (Board(fields[0], "GPIB")) return Gpib(fields);
        return std::nullopt;
    }
    const std::size_t colon = text.rfind(':');
    if (colon == std::string_view::npos) return std::nullopt;
    return Socket(text.substr(0, colon), text.substr(colon + 1));
}

}  // namespace tarnel::scpi::client
