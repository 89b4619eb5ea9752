#include "linearity/transfer_figures.h"

#include <cmath>
#include <iterator>
#include <map>

#include "linearity/line_fit.h"

namespace tarnel::linearity {

namespace {

struct CodeMean {
    double volts = 0;
    std::optional<double> u;
    unsigned count = 0;
};

// The mean output of each code measured, with its uncertainty.
std::map<std::uint32_t, CodeMean> MeanByCode(std::span<const MeasuredPoint> points) {
    struct Sums {
        double sum = 0, squares = 0, variances = 0;
        unsigned count = 0;
        bool allKnown = true;
    };
    std::map<std::uint32_t, Sums> sums;
    for (const MeasuredPoint& point : points) {
        Sums& each = sums[point.code];
        each.sum += point.volts;
        each.squares += point.volts * point.volts;
        ++each.count;
        const auto u = point.Uncertainty();
        if (u) {
            each.variances += *u * *u;
        } else {
            each.allKnown = false;
        }
    }
    std::map<std::uint32_t, CodeMean> means;
    for (const auto& [code, each] : sums) {
        CodeMean mean;
        mean.count = each.count;
        mean.volts = each.sum / each.count;
        if (each.allKnown) {
            mean.u = std::sqrt(each.variances) / each.count;
        } else if (each.count >= 2) {
            double spread = 0;
            for (const MeasuredPoint& point : points) {
                if (point.code == code) spread += (point.volts - mean.volts) * (point.volts - mean.volts);
            }
            mean.u = std::sqrt(spread / (each.count - 1) / each.count);
        }
        means.emplace(code, mean);
    }
    return means;
}

// The standard deviation of each point's residual from the least-squares
// line through all points, by the hat matrix h_kj = 1/n + d_k·d_j/Sxx (d the
// code less the mean code), in O(n) from three sums. None when a point has
// no uncertainty.
std::optional<std::vector<double>> ResidualUncertainties(std::span<const MeasuredPoint> points) {
    const double n = static_cast<double>(points.size());
    double meanCode = 0;
    for (const MeasuredPoint& point : points) meanCode += point.code / n;
    double sxx = 0, sumU2 = 0, sumDU2 = 0, sumD2U2 = 0;
    std::vector<double> variances;
    for (const MeasuredPoint& point : points) {
        const auto u = point.Uncertainty();
        if (!u) return std::nullopt;
        const double d = point.code - meanCode;
        const double u2 = *u * *u;
        sxx += d * d;
        sumU2 += u2;
        sumDU2 += d * u2;
        sumD2U2 += d * d * u2;
        variances.push_back(u2);
    }
    if (!(sxx > 0)) return std::nullopt;
    std::vector<double> result;
    result.reserve(points.size());
    for (std::size_t i = 0; i < points.size(); ++i) {
        const double d = points[i].code - meanCode;
        const double hkk = 1 / n + d * d / sxx;
        const double spread = sumU2 / (n * n) + 2 * d * sumDU2 / (n * sxx) + d * d * sumD2U2 / (sxx * sxx);
        result.push_back(std::sqrt(std::max(0.0, variances[i] * (1 - 2 * hkk) + spread)));
    }
    return result;
}

}  // namespace

std::optional<TransferFigures> AnalyseTransfer(std::span<const MeasuredPoint> points, const Scale& scale) {
    for (const MeasuredPoint& point : points) {
        if (!std::isfinite(point.volts) || !std::isfinite(point.stdDevVolts)) return std::nullopt;
    }
    const std::map<std::uint32_t, CodeMean> means = MeanByCode(points);
    if (means.size() < 2) return std::nullopt;
    const auto& [lowCode, low] = *means.begin();
    const auto& [highCode, high] = *means.rbegin();
    const Line endPoints = LineThrough(lowCode, low.volts, highCode, high.volts);
    const Line bestFit = FitLine(points);
    if (!(endPoints.stepVolts > 0) || !(bestFit.stepVolts > 0)) return std::nullopt;
    const double span = static_cast<double>(highCode - lowCode);
    const double m = endPoints.stepVolts;

    TransferFigures figures;
    figures.points = points.size();
    figures.lowCode = lowCode;
    figures.highCode = highCode;
    figures.measuredLsbVolts = m;
    figures.gainErrorPpm = RelativeGainError(endPoints, scale) * 1e6;
    figures.gainErrorPercentFsr = figures.gainErrorPpm / 1e4;
    figures.bestFitZeroVolts = bestFit.zeroVolts;
    figures.bestFitLsbVolts = bestFit.stepVolts;
    std::optional<double> stepU;
    if (low.u && high.u) {
        stepU = std::hypot(*low.u, *high.u) / span;
        figures.measuredLsbVoltsU = stepU;
        figures.gainErrorPpmU = *stepU / scale.lsbVolts * 1e6;
    }
    if (const auto zero = means.find(0); zero != means.end()) {
        figures.offsetUv = zero->second.volts * 1e6;
        figures.offsetLsb = zero->second.volts / scale.lsbVolts;
        if (zero->second.u) figures.offsetUvU = *zero->second.u * 1e6;
    }
    const auto residualU = ResidualUncertainties(points);

    std::optional<Worst> inlEndPoint, inlBestFit;
    double noiseSquares = 0;
    std::size_t noisyPoints = 0;
    for (std::size_t i = 0; i < points.size(); ++i) {
        const MeasuredPoint& point = points[i];
        PointFigures each;
        each.code = point.code;
        each.inlEndPointLsb = (point.volts - endPoints.At(point.code)) / m;
        each.inlBestFitLsb = (point.volts - bestFit.At(point.code)) / bestFit.stepVolts;
        const auto u = point.Uncertainty();
        const CodeMean& mean = means.at(point.code);
        if (u && (point.code == lowCode || point.code == highCode)) {
            each.inlEndPointLsbU = *u * std::sqrt(1.0 - 1.0 / mean.count) / m;
        } else if (u && low.u && high.u) {
            const double x = (point.code - lowCode) / span;
            const double lowShare = (1 - x) - each.inlEndPointLsb / span;
            const double highShare = x + each.inlEndPointLsb / span;
            each.inlEndPointLsbU =
                std::sqrt(*u * *u + lowShare * lowShare * *low.u * *low.u + highShare * highShare * *high.u * *high.u) / m;
        }
        if (residualU) each.inlBestFitLsbU = (*residualU)[i] / bestFit.stepVolts;
        if (point.code > 0) {
            if (const auto below = means.find(point.code - 1); below != means.end()) {
                each.dnlLsb = (mean.volts - below->second.volts) / m - 1.0;
                if (mean.u && below->second.u && stepU) {
                    const double rise = (*each.dnlLsb + 1) * *stepU;
                    each.dnlLsbU = std::sqrt(*mean.u * *mean.u + *below->second.u * *below->second.u + rise * rise) / m;
                }
            }
        }
        if (!inlEndPoint || std::fabs(each.inlEndPointLsb) > std::fabs(inlEndPoint->value)) {
            figures.inlEndPointLsbU = each.inlEndPointLsbU;
        }
        if (!inlBestFit || std::fabs(each.inlBestFitLsb) > std::fabs(inlBestFit->value)) {
            figures.inlBestFitLsbU = each.inlBestFitLsbU;
        }
        if (each.dnlLsb && (!figures.dnlLsb || std::fabs(*each.dnlLsb) > std::fabs(figures.dnlLsb->value))) {
            figures.dnlLsbU = each.dnlLsbU;
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
        if (above->second.volts <= below->second.volts) {
            figures.monotonic = false;
            figures.firstFallCode = above->first;
            break;
        }
    }
    return figures;
}

}  // namespace tarnel::linearity
