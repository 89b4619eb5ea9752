// A DAC with known errors for the linearity tests, written out on its own:
// V(k) = offset + (1 + gain)·LSB·(k + Σ bit errors of the set bits + bow·4x(1−x)), x = k/K.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "linearity/measured_point.h"
#include "linearity/scale.h"

namespace tarnel::linearity::test {

inline constexpr Scale kScale{4.93 / 262144.0, 18};
inline constexpr std::uint32_t kFull = 262143;

struct SyntheticDac {
    double offsetVolts = 0;
    double gain = 0;   // relative
    double bowLsb = 0;
    std::array<double, 18> bitLsb{};

    double Volts(std::uint32_t k) const {
        double codes = k;
        for (int i = 0; i < 18; ++i) codes += (k >> i & 1u) ? bitLsb[static_cast<std::size_t>(i)] : 0.0;
        const double x = static_cast<double>(k) / kFull;
        codes += bowLsb * 4 * x * (1 - x);
        return offsetVolts + (1 + gain) * kScale.lsbVolts * codes;
    }
    std::vector<MeasuredPoint> Measure(const std::vector<std::uint32_t>& codes) const {
        std::vector<MeasuredPoint> points;
        for (const std::uint32_t code : codes) points.push_back({code, Volts(code), 1, 0});
        return points;
    }
};

}  // namespace tarnel::linearity::test
