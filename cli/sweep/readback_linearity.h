// The linearity of a sweep as the board's read-back converter sees it: the
// read-back figures at the converter's 12-bit resolution (about 1.2 mV, 64 DAC
// codes per step), taken with the linearity library's windowed fit. A
// least-squares line over the codes from 10 % to 90 % of the swept span (away
// from the rails, where output and converter clip), the deviation from it over
// that same window, in read-back steps; a fall of up to one read-back step
// from one code to the next still counts as monotonic.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "sweep/sweep.h"

namespace tarnel::cli {

struct ReadBackLine {
    std::uint32_t fromCode = 0;       // the window it was fitted over, both ends included
    std::uint32_t toCode = 0;
    bool wholeSpan = false;           // too few codes inside 10–90 %: fitted over every point
    double offsetMv = 0;              // the line at code 0, in mV (ideal: 0)
    double gainErrorPercent = 0;      // its slope against the ideal one, in % of full scale
    double maxDeviationMv = 0;        // largest |read-back - line| inside the window
    double maxDeviationLsb = 0;       // the same in read-back steps
};

struct LinearityReport {
    std::size_t points = 0;
    std::optional<ReadBackLine> line;   // none without two points of different codes
    bool monotonic = true;              // the read-back never falls by more than one step
};

LinearityReport AnalyseLinearity(const std::vector<SweepPoint>& points);

// One read-back step in mV: full scale / 4096.
double ReadBackLsbMv();

}  // namespace tarnel::cli
