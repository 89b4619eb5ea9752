// What the linearity figures are measured against: the ideal step (LSB) of
// the converter and its number of bits, which give the full-scale code
// K = 2^bits − 1. The maths knows nothing of any board; callers build a
// Scale from the board's own figures.
#pragma once

#include <cstdint>

namespace tarnel::linearity {

struct Scale {
    double lsbVolts = 0;   // ideal step, V
    int bits = 0;          // 1 … 31

    std::uint32_t FullScaleCode() const { return (std::uint32_t{1} << bits) - 1; }
};

}  // namespace tarnel::linearity
