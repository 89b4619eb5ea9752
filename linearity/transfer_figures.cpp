#include "linearity/transfer_figures.h"

#include <cmath>
#include <iterator>
#include <map>

#include "linearity/line_fit.h"

namespace tarnel::linearity {

namespace {

// The mean output of each code measured.
std::map<std::uint32_t, double> MeanByCode(std::span<const MeasuredPoint> points) {
    std::map<std::uint32_t, std::pair<double, unsigned>> sums;
    for (const MeasuredPoint& point : points) {
        auto& [sum, count] = sums[point.code];
        sum += point.volts;
        ++count;
    }
    std::map<std::uint32_t, double> means;
    for (const auto& [code, sum] : sums) means.emplace(code, sum.first / sum.second);
    return means;
}

}  // namespace

std::optional<TransferFigures> AnalyseTransfer(std::span<const MeasuredPoint> points, const Scale& scale) {
    for (const MeasuredPoint& point : points) {
        if (!std::isfinite(point.volts) || !std::isfinite(point.stdDevVolts)) return std::nullopt;
    }
    const std::map<std::uint32_t, double> means = MeanByCode(points);
    if (means.size() < 2) return std::nullopt;
    const auto& [lowCode, lowVolts] = *means.begin();
    const auto& [highCode, highVolts] = *means.rbegin();
    const Line endPoints = LineThrough(lowCode, lowVolts, highCode, highVolts);
    const Line bestFit = FitLine(points);
    if (!(endPoints.stepVolts > 0) || !(bestFit.stepVolts > 0)) return std::nullopt;

    TransferFigures figures;
    figures.points = points.size();
    figures.lowCode = lowCode;
    figures.highCode = highCode;
    figures.measuredLsbVolts = endPoints.stepVolts;
    figures.gainErrorPpm = RelativeGainError(endPoints, scale) * 1e6;
    figures.gainErrorPercentFsr = figures.gainErrorPpm / 1e4;
    figures.bestFitZeroVolts = bestFit.zeroVolts;
    figures.bestFitLsbVolts = bestFit.stepVolts;
    if (const auto zero = means.find(0); zero != means.end()) {
        figures.offsetUv = zero->second * 1e6;
        figures.offsetLsb = zero->second / scale.lsbVolts;
    }

    std::optional<Worst> inlEndPoint, inlBestFit;
    double noiseSquares = 0;
    std::size_t noisyPoints = 0;
    for (const MeasuredPoint& point : points) {
        PointFigures each;
        each.code = point.code;
        each.inlEndPointLsb = (point.volts - endPoints.At(point.code)) / endPoints.stepVolts;
        each.inlBestFitLsb = (point.volts - bestFit.At(point.code)) / bestFit.stepVolts;
        if (point.code > 0) {
            if (const auto below = means.find(point.code - 1); below != means.end()) {
                each.dnlLsb = (means.at(point.code) - below->second) / endPoints.stepVolts - 1.0;
            }
        }
        KeepWorst(inlEndPoint, each.inlEndPointLsb, each.code);
        KeepWorst(inlBestFit, each.inlBestFitLsb, each.code);
        if (each.dnlLsb) KeepWorst(figures.dnlLsb, *each.dnlLsb, each.code);
        if (point.readings >= 2) {
            noiseSquares += point.stdDevVolts * point.stdDevVolts;
            ++noisyPoints;
        }
        figures.perPoint.push_back(each);
    }
    figures.inlEndPointLsb = *inlEndPoint;
    figures.inlBestFitLsb = *inlBestFit;
    if (noisyPoints > 0) figures.noiseUvRms = std::sqrt(noiseSquares / static_cast<double>(noisyPoints)) * 1e6;

    for (auto below = means.begin(), above = std::next(below); above != means.end(); ++below, ++above) {
        if (above->second <= below->second) {
            figures.monotonic = false;
            figures.firstFallCode = above->first;
            break;
        }
    }
    return figures;
}

}  // namespace tarnel::linearity
