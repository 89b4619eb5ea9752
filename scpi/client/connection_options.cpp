#include "scpi/client/connection_options.h"

#include <cctype>

#include "scpi/client/instrument_resource.h"
#include "scpi/client/line_speeds.h"

namespace tarnel::scpi::client {

namespace {

std::string Lower(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower;
}

std::optional<unsigned> Number(std::string_view text, unsigned most) {
    if (text.empty() || text.size() > 9) return std::nullopt;
    unsigned value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value > most) return std::nullopt;
    return value;
}

std::optional<Handshake> HandshakeNamed(std::string_view name) {
    const std::string lower = Lower(name);
    if (lower == "none") return Handshake::None;
    if (lower == "rtscts") return Handshake::RtsCts;
    if (lower == "xonxoff") return Handshake::XonXoff;
    if (lower == "dtrdsr") return Handshake::DtrDsr;
    return std::nullopt;
}

// "8N1": data bits 5..8, parity N/E/O, stop bits 1 or 2.
bool ApplyFrame(std::string_view frame, SerialSettings& settings) {
    if (frame.size() != 3 || frame[0] < '5' || frame[0] > '8' || (frame[2] != '1' && frame[2] != '2')) return false;
    switch (std::toupper(static_cast<unsigned char>(frame[1]))) {
    case 'N': settings.parity = Parity::None; break;
    case 'E': settings.parity = Parity::Even; break;
    case 'O': settings.parity = Parity::Odd; break;
    default: return false;
    }
    settings.dataBits = static_cast<unsigned>(frame[0] - '0');
    settings.stopBits = static_cast<unsigned>(frame[2] - '0');
    return true;
}

}  // namespace

std::string SerialSettings::Text() const {
    const char parityLetter = parity == Parity::None ? 'N' : parity == Parity::Even ? 'E' : 'O';
    const char* flow = handshake == Handshake::None     ? "none"
                       : handshake == Handshake::RtsCts ? "rtscts"
                       : handshake == Handshake::XonXoff ? "xonxoff"
                                                         : "dtrdsr";
    return std::to_string(baud) + "," + std::to_string(dataBits) + parityLetter + std::to_string(stopBits) + "," +
           flow;
}

std::optional<SerialSettings> ParseSerialSettings(std::string_view text) {
    // BAUD[,8N1][,none|rtscts|xonxoff|dtrdsr]
    SerialSettings settings;
    std::size_t field = 0;
    bool frameSeen = false;
    bool handshakeSeen = false;
    for (;;) {
        const std::size_t comma = text.find(',');
        const std::string_view part = text.substr(0, comma);
        if (field == 0) {
            const auto baud = Number(part, 4000000);
            if (!baud || !TermiosSpeed(*baud)) {
                return std::nullopt;
            }
            settings.baud = *baud;
        } else if (!frameSeen && !handshakeSeen && ApplyFrame(part, settings)) {
            frameSeen = true;
        } else if (const auto handshake = HandshakeNamed(part); handshake && !handshakeSeen) {
            settings.handshake = *handshake;
            handshakeSeen = true;
        } else {
            return std::nullopt;
        }
        ++field;
        if (comma == std::string_view::npos) break;
        text.remove_prefix(comma + 1);
    }
    return settings;
}

std::optional<LineEnd> ParseLineEnd(std::string_view text) {
    const std::string lower = Lower(text);
    if (lower == "lf") return LineEnd::Lf;
    if (lower == "crlf") return LineEnd::CrLf;
    return std::nullopt;
}

std::optional<GpibAdapter> ParseGpibAdapter(std::string_view text) {
    if (text.empty()) return std::nullopt;
    if (text.front() == '/') {
        // A device file: "/" alone names none.
        if (text.size() < 2) return std::nullopt;
        for (const char c : text) {
            if (!std::isprint(static_cast<unsigned char>(c))) return std::nullopt;
        }
        return SerialAdapter{std::string(text)};
    }
    LanAdapter lan;
    std::string_view host = text;
    // "[v6]:port", "[v6]", "name:port", "name".
    if (text.front() == '[') {
        const std::size_t close = text.find(']');
        if (close == std::string_view::npos || close == 1) return std::nullopt;
        host = text.substr(1, close - 1);
        const std::string_view rest = text.substr(close + 1);
        if (!rest.empty()) {
            if (rest.front() != ':') return std::nullopt;
            const auto port = Number(rest.substr(1), 65535);
            if (!port || *port == 0) return std::nullopt;
            lan.port = static_cast<std::uint16_t>(*port);
        }
        for (const char c : host) {
            if (!std::isxdigit(static_cast<unsigned char>(c)) && c != ':' && c != '.') return std::nullopt;
        }
    } else {
        const std::size_t colon = text.rfind(':');
        if (colon != std::string_view::npos) {
            host = text.substr(0, colon);
            const auto port = Number(text.substr(colon + 1), 65535);
            if (!port || *port == 0) return std::nullopt;
            lan.port = static_cast<std::uint16_t>(*port);
        }
        if (host.empty()) return std::nullopt;
        for (const char c : host) {
            if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '-' && c != '_') return std::nullopt;
        }
    }
    lan.host = std::string(host);
    return lan;
}

std::string GpibAdapterText(const GpibAdapter& adapter) {
    if (const auto* serial = std::get_if<SerialAdapter>(&adapter)) return serial->path;
    const auto& lan = std::get<LanAdapter>(adapter);
    return HostText(lan.host) + ":" + std::to_string(lan.port);
}

}  // namespace tarnel::scpi::client
