#include "cli/linearity.h"

#include <algorithm>
#include <cmath>

#include <tarnel/board_protocol.h>

namespace tarnel::cli {

namespace {

constexpr std::size_t kFewestPointsForInnerLine = 5;
constexpr double kSmallestSpanForInnerLineLsb = 10;
constexpr double kLowerFraction = 0.1;
constexpr double kUpperFraction = 0.9;

double ReadVolts(const SweepPoint& point) { return protocol::ConverterVolts(point.readCode); }

// The point whose code lies nearest to `code`.
const SweepPoint& NearestTo(const std::vector<SweepPoint>& points, double code) {
    return *std::min_element(points.begin(), points.end(), [&](const SweepPoint& a, const SweepPoint& b) {
        return std::fabs(a.code - code) < std::fabs(b.code - code);
    });
}

}  // namespace

double ReadBackLsbMv() { return protocol::ConverterVolts(1) * 1000.0; }

LinearityReport AnalyseLinearity(const std::vector<SweepPoint>& points) {
    LinearityReport report;
    report.points = points.size();
    for (std::size_t i = 1; i < points.size(); ++i) {
        const double codeStep = static_cast<double>(points[i].code) - points[i - 1].code;
        const double readStep = points[i].readCode - points[i - 1].readCode;
        if (codeStep * readStep < 0) report.monotonic = false;
    }
    if (points.size() < 2) return report;

    const double first = points.front().code;
    const double span = static_cast<double>(points.back().code) - first;
    const double codesPerLsb = protocol::kDacCodes / protocol::kConverterCodes;
    const bool shortSweep = points.size() < kFewestPointsForInnerLine ||
                            std::fabs(span) < kSmallestSpanForInnerLineLsb * codesPerLsb;
    const SweepPoint& a = shortSweep ? points.front() : NearestTo(points, first + kLowerFraction * span);
    const SweepPoint& b = shortSweep ? points.back() : NearestTo(points, first + kUpperFraction * span);
    if (a.code == b.code) return report;

    ReferenceLine line;
    line.fromCode = a.code;
    line.toCode = b.code;
    line.throughEndPoints = shortSweep;
    const double slope = (ReadVolts(b) - ReadVolts(a)) / (static_cast<double>(b.code) - a.code);   // V per code
    const double atZero = ReadVolts(a) - slope * a.code;
    const double idealSlope = protocol::DacOutputVolts(1);
    line.offsetMv = atZero * 1000.0;
    line.gainErrorPercent = (slope / idealSlope - 1.0) * 100.0;
    for (const SweepPoint& point : points) {
        const double deviationMv = std::fabs(ReadVolts(point) - (atZero + slope * point.code)) * 1000.0;
        line.maxDeviationMv = std::max(line.maxDeviationMv, deviationMv);
    }
    line.maxDeviationLsb = line.maxDeviationMv / ReadBackLsbMv();
    report.line = line;
    return report;
}

}  // namespace tarnel::cli
