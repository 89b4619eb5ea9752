// Linearity of a coarse measurement, such as the board's own read-back
// converter watching the DAC: the rails, where output and converter clip,
// are left out. A least-squares line is fitted over the window from
// `lowFraction` to `highFraction` of the measured code span (10–90 % by
// default) and the deviation from it is taken over that same window, in
// steps of the measuring instrument (`resolutionVolts`, one read-back LSB).
// Monotonic allows one such step: only a fall of more than `resolutionVolts`
// from one measured code to the next (in code order) breaks it.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "linearity/measured_point.h"
#include "linearity/scale.h"

namespace tarnel::linearity {

struct WindowFit {
    std::uint32_t fromCode = 0;    // the window, both ends included
    std::uint32_t toCode = 0;
    bool wholeSpan = false;        // fewer than two codes inside the window: every point was used
    std::size_t pointsFitted = 0;
    double zeroVolts = 0;          // the line at code 0
    double stepVolts = 0;          // and its step per code
    double offsetUv = 0;           // zeroVolts in µV
    double gainErrorPercent = 0;   // step against the ideal LSB, in % of full scale
    Worst deviationVolts;          // largest |measured − line| in the window
    double deviationSteps = 0;     // the same in steps of the instrument
    bool monotonic = true;
    std::optional<std::uint32_t> firstFallCode;   // the first code that fell by more than one step
};

// Empty with fewer than two distinct codes, an output that is not finite, a
// resolution or scale that is not positive, or fractions outside 0 ≤ low ≤ high ≤ 1.
std::optional<WindowFit> FitWindow(std::span<const MeasuredPoint> points, const Scale& scale, double resolutionVolts,
                                   double lowFraction = 0.1, double highFraction = 0.9);

}  // namespace tarnel::linearity
