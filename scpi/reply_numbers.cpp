#include "scpi/reply_numbers.h"

#include <array>
#include <charconv>
#include <cmath>

namespace tarnel::scpi {

std::string Nr1(long long value) { return std::to_string(value); }

std::string Nr3(double value, int significantDigits) {
    if (!std::isfinite(value)) return kNotANumber;
    if (value == 0) value = 0;   // no "-0E+00"
    std::array<char, 64> text{};
    const int precision = significantDigits > 1 ? significantDigits - 1 : 0;
    const auto written =
        std::to_chars(text.data(), text.data() + text.size(), value, std::chars_format::scientific, precision);
    std::string result(text.data(), written.ptr);
    const std::size_t e = result.find('e');
    std::size_t mantissaEnd = e;
    if (result.find('.') < e) {
        while (result[mantissaEnd - 1] == '0') --mantissaEnd;
        if (result[mantissaEnd - 1] == '.') --mantissaEnd;
    }
    return result.substr(0, mantissaEnd) + "E" + result.substr(e + 1);
}

}  // namespace tarnel::scpi
