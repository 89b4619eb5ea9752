#include "output/number_format.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace tarnel::cli {

std::string VoltsText(float roundedVolts) {
    // The shortest text that reads back as the same float is the "0.###"
    // decimal it was rounded from.
    std::array<char, 32> text{};
    const auto written = std::to_chars(text.data(), text.data() + text.size(), roundedVolts, std::chars_format::fixed);
    return std::string(text.data(), written.ptr);
}

std::string CodeText(double code) {
    if (code == std::floor(code)) return FixedText(code, 0);
    return FixedText(code, 3);
}

std::string FixedText(double value, int decimals) {
    std::array<char, 64> text{};
    std::snprintf(text.data(), text.size(), "%.*f", decimals, value);
    return text.data();
}

std::string WordText(std::uint64_t word) {
    std::array<char, 24> text{};
    std::snprintf(text.data(), text.size(), "%05llX", static_cast<unsigned long long>(word));
    return text.data();
}

std::string InputWordText(std::uint32_t inputWord) {
    std::array<char, 16> text{};
    std::snprintf(text.data(), text.size(), "0x%06X", static_cast<unsigned>(inputWord));
    return text.data();
}

double ShownVolts(float roundedVolts) { return std::stod(VoltsText(roundedVolts)); }

}  // namespace tarnel::cli
