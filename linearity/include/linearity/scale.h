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

// One measured code: the mean of its readings and, from two readings on,
// their standard deviation.
struct MeasuredPoint {
    std::uint32_t code = 0;
    double volts = 0;
    unsigned readings = 1;
    double stdDevVolts = 0;   // meaningful where readings >= 2
};

// A figure and the code where it is worst (largest in size, first such code).
struct Worst {
    double value = 0;
    std::uint32_t code = 0;
};

}  // namespace tarnel::linearity
