#include "linearity/window_fit.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "linearity/line_fit.h"

namespace tarnel::linearity {

namespace {

std::size_t DistinctCodes(const std::vector<MeasuredPoint>& sorted) {
    std::size_t distinct = 0;
    for (std::size_t i = 0; i < sorted.size(); ++i) distinct += i == 0 || sorted[i].code != sorted[i - 1].code;
    return distinct;
}

}  // namespace

std::optional<WindowFit> FitWindow(std::span<const MeasuredPoint> points, const Scale& scale, double resolutionVolts,
                                   double lowFraction, double highFraction) {
    if (!(resolutionVolts > 0) || !(scale.lsbVolts > 0)) return std::nullopt;
    if (!(lowFraction >= 0 && lowFraction <= highFraction && highFraction <= 1)) return std::nullopt;
    std::vector<MeasuredPoint> sorted(points.begin(), points.end());
    if (std::any_of(sorted.begin(), sorted.end(), [](const MeasuredPoint& p) { return !std::isfinite(p.volts); })) {
        return std::nullopt;
    }
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const MeasuredPoint& a, const MeasuredPoint& b) { return a.code < b.code; });
    if (DistinctCodes(sorted) < 2) return std::nullopt;

    WindowFit fit;
    const double low = sorted.front().code;
    const double span = static_cast<double>(sorted.back().code) - low;
    fit.fromCode = static_cast<std::uint32_t>(std::ceil(low + lowFraction * span));
    fit.toCode = static_cast<std::uint32_t>(std::floor(low + highFraction * span));
    std::vector<MeasuredPoint> window;
    std::copy_if(sorted.begin(), sorted.end(), std::back_inserter(window), [&](const MeasuredPoint& p) {
        return p.code >= fit.fromCode && p.code <= fit.toCode;
    });
    if (DistinctCodes(window) < 2) {
        window = sorted;
        fit.wholeSpan = true;
        fit.fromCode = sorted.front().code;
        fit.toCode = sorted.back().code;
    }
    fit.pointsFitted = window.size();

    const Line line = FitLine(window);
    fit.zeroVolts = line.zeroVolts;
    fit.stepVolts = line.stepVolts;
    fit.offsetUv = fit.zeroVolts * 1e6;
    fit.gainErrorPercent = RelativeGainError(line, scale) * 100.0;
    for (const MeasuredPoint& p : window) KeepWorst(fit.deviationVolts, p.volts - line.At(p.code), p.code);
    fit.deviationSteps = std::fabs(fit.deviationVolts.value) / resolutionVolts;

    for (std::size_t i = 1; i < sorted.size(); ++i) {
        const bool nextCode = sorted[i].code != sorted[i - 1].code;
        if (nextCode && sorted[i].volts < sorted[i - 1].volts - resolutionVolts) {
            fit.monotonic = false;
            fit.firstFallCode = sorted[i].code;
            break;
        }
    }
    return fit;
}

}  // namespace tarnel::linearity
