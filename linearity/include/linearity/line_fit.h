// The straight lines the linearity figures are measured against: output volts
// as a line in the code, fitted by least squares or drawn through two points.
#pragma once

#include <cstdint>
#include <span>

#include "linearity/measured_point.h"
#include "linearity/scale.h"

namespace tarnel::linearity {

struct Line {
    double zeroVolts = 0;   // at code 0
    double stepVolts = 0;   // per code

    double At(double code) const { return zeroVolts + stepVolts * code; }
};

// The least-squares line through every point (a code measured twice counts
// twice), by the closed form for one unknown slope, with codes taken about
// their mean so the sums keep their precision. The step is not a finite
// number unless the points hold at least two distinct codes.
Line FitLine(std::span<const MeasuredPoint> points);

// The same through the outputs of the codes 0, 1, 2, … in turn.
Line FitLine(std::span<const double> voltsByCode);

// The line through the outputs of two different codes.
Line LineThrough(std::uint32_t lowCode, double lowVolts, std::uint32_t highCode, double highVolts);

// A line's step against the ideal LSB as a fraction: 0 for the ideal gain.
double RelativeGainError(const Line& line, const Scale& scale);

}  // namespace tarnel::linearity
