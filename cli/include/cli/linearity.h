// The linearity of a sweep as the read-back converter sees it. The reference
// line runs through the points at 10 % and 90 % of the swept span (away from
// the rails, where the output and the converter clip); a short sweep (fewer
// than 5 points, or a span under 10 read-back LSB) uses its end points. The
// read-back converter has 12 bits (about 1.2 mV, 64 DAC codes per LSB), so
// deviations are given in its LSB, never in DAC LSB.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "cli/sweep.h"

namespace tarnel::cli {

struct ReferenceLine {
    std::uint32_t fromCode = 0;       // the two points it runs through
    std::uint32_t toCode = 0;
    bool throughEndPoints = false;    // the sweep was too short for 10 % / 90 %
    double offsetMv = 0;              // its output at code 0, in mV (ideal: 0)
    double gainErrorPercent = 0;      // its slope against the ideal one, in % of full scale
    double maxDeviationMv = 0;        // largest |read-back - line| over all points
    double maxDeviationLsb = 0;       // the same in read-back LSB
};

struct LinearityReport {
    std::size_t points = 0;
    std::optional<ReferenceLine> line;   // none without two points of different codes
    bool monotonic = true;               // read-back never moves against the codes
};

LinearityReport AnalyseLinearity(const std::vector<SweepPoint>& points);

// One read-back LSB in mV: full scale / 4096.
double ReadBackLsbMv();

}  // namespace tarnel::cli
