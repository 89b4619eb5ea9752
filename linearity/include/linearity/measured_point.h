// What the linearity figures are made from and how they report a worst case.
#pragma once

#include <cmath>
#include <cstdint>
#include <optional>

namespace tarnel::linearity {

// One measured code: the mean of its readings and, from two readings on,
// their standard deviation; and the standard uncertainty of the mean where
// the caller knows better (a drift correction adds to it).
struct MeasuredPoint {
    std::uint32_t code = 0;
    double volts = 0;
    unsigned readings = 1;
    double stdDevVolts = 0;   // meaningful where readings >= 2
    std::optional<double> uVolts = std::nullopt;

    // uVolts where given, else the standard deviation of the mean from two
    // readings on; none from a single reading (it shows no spread).
    std::optional<double> Uncertainty() const {
        if (uVolts) return uVolts;
        if (readings >= 2) return stdDevVolts / std::sqrt(static_cast<double>(readings));
        return std::nullopt;
    }
};

// A figure and the code where it is worst (largest in size, first such code).
struct Worst {
    double value = 0;
    std::uint32_t code = 0;
};

// Takes value at code as the worst where it is larger in size than the worst
// so far; on a tie the earlier code stays.
inline void KeepWorst(Worst& worst, double value, std::uint32_t code) {
    if (std::fabs(value) > std::fabs(worst.value)) worst = {value, code};
}

// The same where there is no worst before the first value.
inline void KeepWorst(std::optional<Worst>& worst, double value, std::uint32_t code) {
    if (!worst || std::fabs(value) > std::fabs(worst->value)) worst = Worst{value, code};
}

}  // namespace tarnel::linearity
