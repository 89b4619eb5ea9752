#include "scpi/parameter_values.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>

#include "scpi/keywords.h"

namespace tarnel::scpi {

namespace {

[[noreturn]] void Illegal(const std::string& detail) { throw ScpiFailure(ErrorCode::IllegalParameterValue, detail); }

double DecimalValue(const Parameter& parameter) {
    std::string_view text = parameter.text;
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error == std::errc::result_out_of_range) {
        // Beyond double's range: an exponent too large or too small.
        const bool tiny = text.find("e-") != std::string_view::npos || text.find("E-") != std::string_view::npos;
        const double magnitude = tiny ? 0.0 : std::numeric_limits<double>::infinity();
        return text.front() == '-' ? -magnitude : magnitude;
    }
    if (error != std::errc() || end != text.data() + text.size()) Illegal("'" + parameter.text + "' is not a number");
    return value;
}

double NonDecimalValue(const Parameter& parameter) {
    constexpr std::uint64_t kMost = std::numeric_limits<std::uint64_t>::max();
    std::uint64_t value = 0;
    for (const char c : parameter.text) {
        const int digit = c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
        // Saturates: every value this large is equally out of range.
        const auto radix = static_cast<std::uint64_t>(parameter.radix);
        value = value > (kMost - static_cast<std::uint64_t>(digit)) / radix ? kMost : value * radix + static_cast<std::uint64_t>(digit);
    }
    return static_cast<double>(value);
}

// The factor of a voltage unit, or nothing for one that is not.
std::optional<double> VoltsDivisor(std::string_view suffix) {
    if (suffix.empty() || NamesKeyword(suffix, "V")) return 1.0;
    if (NamesKeyword(suffix, "MV")) return 1e3;
    if (NamesKeyword(suffix, "UV")) return 1e6;
    return std::nullopt;
}

}  // namespace

double Resolved(const NumericValue& value, const Bounds& bounds) {
    if (const double* number = std::get_if<double>(&value)) return *number;
    switch (std::get<NumericLimit>(value)) {
        case NumericLimit::Minimum: return bounds.least;
        case NumericLimit::Maximum: return bounds.maximum;
        case NumericLimit::Default: break;
    }
    return bounds.byDefault;
}

NumericValue NumberIn(const Parameter& parameter, Unit unit) {
    switch (parameter.kind) {
        case Parameter::Kind::Decimal: {
            const double value = DecimalValue(parameter);
            if (unit == Unit::None) {
                if (!parameter.suffix.empty()) {
                    throw ScpiFailure(ErrorCode::InvalidSuffix, "'" + parameter.suffix + "': this number takes no unit");
                }
                return value;
            }
            const std::optional<double> divisor = VoltsDivisor(parameter.suffix);
            if (!divisor) throw ScpiFailure(ErrorCode::InvalidSuffix, "'" + parameter.suffix + "': give V, MV or UV");
            // Dividing keeps 2500MV exactly as 2.5.
            return value / *divisor;
        }
        case Parameter::Kind::NonDecimal:
            return NonDecimalValue(parameter);
        case Parameter::Kind::Character:
            if (NamesKeyword(parameter.text, "MINimum")) return NumericLimit::Minimum;
            if (NamesKeyword(parameter.text, "MAXimum")) return NumericLimit::Maximum;
            if (NamesKeyword(parameter.text, "DEFault")) return NumericLimit::Default;
            Illegal("'" + parameter.text + "': give a number, MIN, MAX or DEF");
        case Parameter::Kind::String:
            break;
    }
    Illegal("a string where a number belongs");
}

bool BooleanIn(const Parameter& parameter) {
    if (parameter.kind == Parameter::Kind::Character) {
        if (NamesKeyword(parameter.text, "ON")) return true;
        if (NamesKeyword(parameter.text, "OFF")) return false;
        Illegal("'" + parameter.text + "': give ON, OFF, 1 or 0");
    }
    const NumericValue value = NumberIn(parameter, Unit::None);
    const double* number = std::get_if<double>(&value);
    if (number == nullptr || std::isnan(*number)) Illegal("give ON, OFF, 1 or 0");
    return std::round(*number) != 0;
}

std::size_t ChoiceIn(const Parameter& parameter, const std::vector<std::string_view>& names) {
    std::string listed;
    std::size_t position = 0;
    for (const std::string_view name : names) {
        if (parameter.kind == Parameter::Kind::Character && NamesKeyword(parameter.text, name)) return position;
        listed += (position++ == 0 ? "" : position == names.size() ? " or " : ", ") + std::string(name);
    }
    Illegal("'" + parameter.text + "': give " + listed);
}

}  // namespace tarnel::scpi
