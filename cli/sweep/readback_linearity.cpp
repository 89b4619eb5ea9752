#include "sweep/readback_linearity.h"

#include <cmath>

#include <tarnel/board_protocol.h>

#include "linearity/window_fit.h"

namespace tarnel::cli {

double ReadBackLsbMv() { return protocol::ConverterVolts(1) * 1000.0; }

LinearityReport AnalyseLinearity(const std::vector<SweepPoint>& points) {
    LinearityReport report;
    report.points = points.size();
    std::vector<linearity::MeasuredPoint> measured;
    measured.reserve(points.size());
    for (const SweepPoint& point : points) {
        measured.push_back({point.code, protocol::ConverterVolts(1) * point.readCode, 1, 0});
    }
    const linearity::Scale dac{protocol::DacOutputVolts(1), protocol::kDacResolutionBits};
    const auto fit = linearity::FitWindow(measured, dac, protocol::ConverterVolts(1));
    if (!fit) return report;
    report.monotonic = fit->monotonic;
    report.line = ReadBackLine{fit->fromCode,
                               fit->toCode,
                               fit->wholeSpan,
                               fit->offsetUv / 1000.0,
                               fit->gainErrorPercent,
                               std::fabs(fit->deviationVolts.value) * 1000.0,
                               fit->deviationSteps};
    return report;
}

}  // namespace tarnel::cli
