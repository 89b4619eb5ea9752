#include "cli/meter_resource.h"

#include <cctype>

namespace tarnel::cli {

namespace {

// Whether text is upper (an upper-case keyword) in any case.
bool IsKeyword(std::string_view text, std::string_view upper) {
    if (text.size() != upper.size()) return false;
    for (std::size_t i = 0; i < upper.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(text[i])) != upper[i]) return false;
    }
    return true;
}

std::optional<std::uint16_t> Port(std::string_view text) {
    if (text.empty() || text.size() > 5) return std::nullopt;
    unsigned number = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        number = number * 10 + static_cast<unsigned>(c - '0');
    }
    if (number == 0 || number > 65535) return std::nullopt;
    return static_cast<std::uint16_t>(number);
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

std::optional<MeterResource> Resource(std::string_view host, std::string_view port) {
    const auto name = Host(host);
    const auto number = Port(port);
    if (!name || !number) return std::nullopt;
    return MeterResource{*name, *number};
}

}  // namespace

std::string MeterResource::Text() const {
    const bool v6 = host.find(':') != std::string::npos;
    return (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

std::optional<MeterResource> ParseMeterResource(std::string_view text) {
    constexpr std::string_view kSocketSuffix = "::SOCKET";
    if (IsKeyword(text.substr(0, 5), "TCPIP")) {
        std::string_view rest = text.substr(5);
        while (!rest.empty() && rest.front() >= '0' && rest.front() <= '9') rest.remove_prefix(1);
        if (!rest.starts_with("::") || rest.size() < kSocketSuffix.size()) return std::nullopt;
        rest.remove_prefix(2);
        if (!IsKeyword(rest.substr(rest.size() - kSocketSuffix.size()), kSocketSuffix)) return std::nullopt;
        rest.remove_suffix(kSocketSuffix.size());
        const std::size_t separator = rest.rfind("::");
        if (separator == std::string_view::npos) return std::nullopt;
        return Resource(rest.substr(0, separator), rest.substr(separator + 2));
    }
    const std::size_t colon = text.rfind(':');
    if (colon == std::string_view::npos) return std::nullopt;
    return Resource(text.substr(0, colon), text.substr(colon + 1));
}

}  // namespace tarnel::cli
