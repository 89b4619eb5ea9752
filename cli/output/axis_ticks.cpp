#include "output/axis_ticks.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>

namespace tarnel::cli {

namespace {

constexpr int kMostValueTicks = 10;
constexpr int kFewestCodeTicks = 4;

// The label of k x (mantissa x 10^exponent) with the decimals the step needs.
std::string ValueLabel(long long k, int mantissa, int exponent) {
    if (k == 0) return "0";   // never "-0" or "0.00"
    const int decimals = std::max(0, -exponent);
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, static_cast<double>(k) * mantissa * std::pow(10.0, exponent));
    return text;
}

}  // namespace

AxisScale ValueScale(double low, double high) {
    if (!std::isfinite(low) || !std::isfinite(high)) low = high = 0;
    // Far enough from the largest double that the span stays finite.
    low = std::clamp(low, -1e300, 1e300);
    high = std::clamp(high, -1e300, 1e300);
    if (low > high) std::swap(low, high);
    if (low == high) {
        // One value: a range around it a tenth of its size (or 1 at zero).
        const double half = low == 0 ? 1 : std::abs(low) * 0.1;
        low -= half;
        high += half;
    }
    // The smallest step of 1, 2 or 5 x 10^n that needs no more than
    // kMostValueTicks ticks; each is at most 2.5 times the one before, so the
    // one chosen still gives at least 4.
    const int exponent0 = static_cast<int>(std::floor(std::log10((high - low) / kMostValueTicks)));
    for (int exponent = exponent0;; ++exponent) {
        for (const int mantissa : {1, 2, 5}) {
            const double step = mantissa * std::pow(10.0, exponent);
            // A little slack, so that a value a rounding error past a step
            // does not cost a whole step.
            const auto first = static_cast<long long>(std::floor(low / step + 1e-9));
            const auto last = static_cast<long long>(std::ceil(high / step - 1e-9));
            if (last - first + 1 > kMostValueTicks) continue;
            AxisScale scale;
            scale.step = step;
            scale.low = static_cast<double>(first) * step;
            scale.high = static_cast<double>(last) * step;
            for (long long k = first; k <= last; ++k) {
                scale.ticks.push_back({static_cast<double>(k) * step, ValueLabel(k, mantissa, exponent)});
            }
            return scale;
        }
    }
}

std::string HexCodeLabel(std::uint32_t code, std::uint32_t fullScale) {
    int digits = 1;
    while (digits < 8 && (fullScale >> (4 * digits)) != 0) ++digits;
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*X", digits, static_cast<unsigned>(code));
    return text;
}

AxisScale CodeScale(std::uint32_t first, std::uint32_t last, std::uint32_t fullScale) {
    if (first > last) std::swap(first, last);
    last = std::min(last, fullScale);
    first = std::min(first, last);
    // The largest power of two that still gives kFewestCodeTicks multiples
    // within first..last (1 when the range is too short for that).
    std::uint64_t step = std::uint64_t{1} << 31;
    const auto ticksWithin = [&](std::uint64_t candidate) {
        return (last / candidate) - ((first + candidate - 1) / candidate) + 1;
    };
    while (step > 1 && ticksWithin(step) < kFewestCodeTicks) step /= 2;

    AxisScale scale;
    scale.step = static_cast<double>(step);
    std::uint64_t low = first / step * step;
    std::uint64_t high = (std::uint64_t{last} + step - 1) / step * step;
    if (high == low) {
        // One code: a step's room beside it, on whichever side the DAC has.
        if (low + step <= fullScale) high = low + step;
        else if (low >= step) low -= step;
    }
    for (std::uint64_t code = low; code <= high; code += step) {
        const auto shown = static_cast<std::uint32_t>(std::min<std::uint64_t>(code, fullScale));
        scale.ticks.push_back({static_cast<double>(shown), HexCodeLabel(shown, fullScale)});
        if (shown == fullScale) break;
    }
    scale.low = scale.ticks.front().value;
    scale.high = scale.ticks.back().value;
    return scale;
}

}  // namespace tarnel::cli
