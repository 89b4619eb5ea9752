// What the linearity figures are made from and how they report a worst case.
#pragma once

#include <cstdint>

namespace tarnel::linearity {

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
