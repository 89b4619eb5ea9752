#include "core/voltage_rounding.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace tarnel {

namespace {

constexpr int kSignificantDigits = 15;
constexpr int kDecimals = 3;

constexpr std::int64_t PowerOfTen(int exponent) {
    std::int64_t result = 1;
    for (int i = 0; i < exponent; ++i) result *= 10;
    return result;
}

float ParseFloat(const char* first, const char* last) {
    float result = 0.0f;
    std::from_chars(first, last, result);
    return result;
}

}  // namespace

float RoundedToThousandths(double volts) {
    if (!std::isfinite(volts)) return static_cast<float>(volts);

    // d.dddddddddddddde+XX: the 15 significant digits and the decimal exponent.
    std::array<char, 64> text{};
    const auto written = std::to_chars(text.data(), text.data() + text.size(), std::fabs(volts),
                                       std::chars_format::scientific, kSignificantDigits - 1);
    const std::string scientific(text.data(), written.ptr);
    const std::size_t e = scientific.find('e');
    std::int64_t mantissa = 0;   // the 15 digits as an integer
    for (std::size_t i = 0; i < e; ++i) {
        if (scientific[i] != '.') mantissa = mantissa * 10 + (scientific[i] - '0');
    }
    const int exponent = std::atoi(scientific.c_str() + e + 1);

    // value = mantissa * 10^(exponent - 14); in thousandths: mantissa * 10^(exponent - 11).
    const int shift = (kSignificantDigits - 1 - kDecimals) - exponent;
    if (shift <= 0) {
        // No digit below the thousandths: the 15-digit value is already rounded.
        const float magnitude = ParseFloat(scientific.data(), scientific.data() + scientific.size());
        return volts < 0 ? -magnitude : magnitude;
    }
    std::int64_t thousandths = 0;
    if (shift <= kSignificantDigits + 1) {
        const std::int64_t divisor = PowerOfTen(shift);
        thousandths = mantissa / divisor;
        if ((mantissa % divisor) * 2 >= divisor) ++thousandths;
    }
    const std::string decimal = std::to_string(thousandths / 1000) + "." +
                                std::to_string(1000 + thousandths % 1000).substr(1);
    const float magnitude = ParseFloat(decimal.data(), decimal.data() + decimal.size());
    return volts < 0 ? -magnitude : magnitude;
}

}  // namespace tarnel
