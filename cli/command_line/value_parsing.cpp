#include "command_line/value_parsing.h"

#include <charconv>
#include <cmath>

#include "core/power_down_names.h"
#include "scpi/keywords.h"

namespace tarnel::cli {

namespace {

constexpr std::uint64_t kBeyond32Bits = std::uint64_t{1} << 32;

bool EndsWithIgnoringCase(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && scpi::EqualsIgnoringCase(text.substr(text.size() - suffix.size()), suffix);
}

std::string_view WithoutHexPrefix(std::string_view text) {
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text.remove_prefix(2);
    return text;
}

std::optional<std::uint64_t> ParseDigits(std::string_view text, int base) {
    if (text.empty()) return std::nullopt;
    std::uint64_t value = 0;
    for (const char c : text) {
        int digit = 0;
        if (c >= '0' && c <= '9') digit = c - '0';
        else if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
        else return std::nullopt;
        if (digit >= base) return std::nullopt;
        // Saturates: every value at or beyond 2^32 is equally too large.
        value = value >= kBeyond32Bits ? kBeyond32Bits : value * base + digit;
    }
    return value;
}

}  // namespace

std::optional<std::uint64_t> ParseHexWord(std::string_view text) { return ParseDigits(WithoutHexPrefix(text), 16); }

std::optional<std::uint64_t> ParseCount(std::string_view text) {
    const std::string_view digits = WithoutHexPrefix(text);
    return ParseDigits(digits, digits.size() == text.size() ? 10 : 16);
}

std::optional<double> ParseDecimal(std::string_view text) {
    if (text.empty() || text.front() == '-' || text.front() == '+') return std::nullopt;
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::fixed);
    if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) return std::nullopt;
    return value;
}

std::optional<double> ParseVolts(std::string_view text) {
    double divisor = 1.0;   // dividing keeps 3300mV exactly as 3.3
    if (EndsWithIgnoringCase(text, "mv")) {
        divisor = 1000.0;
        text.remove_suffix(2);
    } else if (EndsWithIgnoringCase(text, "v")) {
        text.remove_suffix(1);
    }
    const bool negative = !text.empty() && text.front() == '-';
    if (negative) text.remove_prefix(1);
    const std::optional<double> magnitude = ParseDecimal(text);
    if (!magnitude) return std::nullopt;
    return (negative ? -*magnitude : *magnitude) / divisor;
}

std::optional<protocol::PowerDown> ParseMode(std::string_view text) {
    for (const PowerDownName& names : kPowerDownNames) {
        if (scpi::EqualsIgnoringCase(text, names.commandLine)) return names.mode;
    }
    return std::nullopt;
}

std::string_view ModeName(protocol::PowerDown mode) { return NamesOf(mode).commandLine; }

}  // namespace tarnel::cli
