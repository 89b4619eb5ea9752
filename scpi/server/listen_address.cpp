#include "scpi/listen_address.h"

#include <QHostAddress>
#include <QString>

namespace tarnel::scpi {

std::optional<ListenAddress> ParseListenAddress(std::string_view text) {
    const std::size_t colon = text.rfind(':');
    if (colon == std::string_view::npos) return std::nullopt;
    std::string_view host = text.substr(0, colon);
    const std::string_view port = text.substr(colon + 1);
    const bool bracketed = host.size() >= 2 && host.front() == '[' && host.back() == ']';
    if (bracketed) host = host.substr(1, host.size() - 2);
    // An IPv6 address needs its brackets, or its last group would read as the port.
    if (host.find(':') != std::string_view::npos && !bracketed) return std::nullopt;

    QHostAddress address;
    if (!address.setAddress(QString::fromUtf8(host.data(), static_cast<qsizetype>(host.size())))) return std::nullopt;
    if (bracketed != (address.protocol() == QAbstractSocket::IPv6Protocol)) return std::nullopt;
    if (port.empty() || port.size() > 5) return std::nullopt;
    unsigned number = 0;
    for (const char c : port) {
        if (c < '0' || c > '9') return std::nullopt;
        number = number * 10 + static_cast<unsigned>(c - '0');
    }
    if (number > 65535) return std::nullopt;
    return ListenAddress{std::string(host), static_cast<std::uint16_t>(number)};
}

}  // namespace tarnel::scpi
