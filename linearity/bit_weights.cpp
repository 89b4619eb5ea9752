#include "linearity/bit_weights.h"

#include <bit>
#include <cmath>

#include "linearity/code_sets.h"
#include "linearity/least_squares.h"
#include "linearity/line_fit.h"

namespace tarnel::linearity {

namespace {

// The fit's unknowns are V(0) and each weight's departure from its ideal
// value, so that the least squares work on microvolts, not on volts.
std::optional<std::vector<double>> FitDepartures(std::span<const MeasuredPoint> points, const Scale& scale) {
    std::vector<std::vector<double>> rows;
    std::vector<double> departures;
    for (const MeasuredPoint& point : points) {
        std::vector<double> row(static_cast<std::size_t>(scale.bits) + 1, 0.0);
        row[0] = 1.0;
        for (int bit = 0; bit < scale.bits; ++bit) row[static_cast<std::size_t>(bit) + 1] = (point.code >> bit) & 1u;
        rows.push_back(std::move(row));
        departures.push_back(point.volts - scale.lsbVolts * point.code);
    }
    return SolveLeastSquares(std::move(rows), std::move(departures));
}

}  // namespace

std::vector<double> PredictAllCodes(double zeroVolts, std::span<const double> weightsVolts) {
    std::vector<double> volts(std::size_t{1} << weightsVolts.size());
    volts[0] = zeroVolts;
    // Each code is the code without its lowest set bit, plus that bit's weight.
    for (std::size_t code = 1; code < volts.size(); ++code) {
        volts[code] = volts[code & (code - 1)] + weightsVolts[static_cast<std::size_t>(std::countr_zero(code))];
    }
    return volts;
}

std::vector<double> PredictedInlEndPointLsb(const BitsFigures& figures) {
    std::vector<double> inl = PredictAllCodes(figures.zeroVolts, figures.weightsVolts);
    for (std::size_t code = 0; code < inl.size(); ++code) {
        const double endPointLine = figures.zeroVolts + figures.lsbVolts * static_cast<double>(code);
        inl[code] = (inl[code] - endPointLine) / figures.lsbVolts;
    }
    return inl;
}

std::optional<BitsFigures> AnalyseBits(std::span<const MeasuredPoint> points, const Scale& scale) {
    if (scale.bits < 1 || scale.bits > kMostBitsPredicted || !(scale.lsbVolts > 0)) return std::nullopt;
    const std::uint32_t full = scale.FullScaleCode();
    for (const MeasuredPoint& point : points) {
        if (point.code > full || !std::isfinite(point.volts)) return std::nullopt;
    }
    const auto fitted = FitDepartures(points, scale);
    if (!fitted) return std::nullopt;

    BitsFigures figures;
    figures.pointsFitted = points.size();
    figures.zeroVolts = (*fitted)[0];
    double sumOfWeights = 0;
    for (int bit = 0; bit < scale.bits; ++bit) {
        const double ideal = static_cast<double>(std::uint32_t{1} << bit);
        const double departure = (*fitted)[static_cast<std::size_t>(bit) + 1];
        figures.weightsVolts.push_back(scale.lsbVolts * ideal + departure);
        figures.weightErrorsLsb.push_back(departure / scale.lsbVolts);
        sumOfWeights += figures.weightsVolts.back();
    }
    figures.lsbVolts = sumOfWeights / full;
    if (!(figures.lsbVolts > 0)) return std::nullopt;
    const double lsb = figures.lsbVolts;

    // DNL of every code is that of the carry into its lowest set bit.
    double lowerWeights = 0;
    for (int bit = 0; bit < scale.bits; ++bit) {
        const double weight = figures.weightsVolts[static_cast<std::size_t>(bit)];
        const double dnl = (weight - lowerWeights) / lsb - 1.0;
        const std::uint32_t code = std::uint32_t{1} << bit;
        if (bit >= 1) figures.carryDnl.push_back({code, dnl});
        if (bit == 0) figures.predictedDnlLsb = {dnl, code};
        KeepWorst(figures.predictedDnlLsb, dnl, code);
        lowerWeights += weight;
    }

    const std::vector<double> predicted = PredictAllCodes(figures.zeroVolts, figures.weightsVolts);
    const Line bestFit = FitLine(predicted);
    if (!(bestFit.stepVolts > 0)) return std::nullopt;
    for (std::uint32_t code = 0; code <= full; ++code) {
        const double endPointLine = figures.zeroVolts + lsb * code;
        KeepWorst(figures.predictedInlEndPointLsb, (predicted[code] - endPointLine) / lsb, code);
        KeepWorst(figures.predictedInlBestFitLsb, (predicted[code] - bestFit.At(code)) / bestFit.stepVolts, code);
    }

    for (const std::uint32_t check : CheckCodes(scale.bits)) {
        for (const MeasuredPoint& point : points) {
            if (point.code != check) continue;
            const double difference = point.volts - predicted[check];
            if (!figures.superpositionCheckUv || std::fabs(difference) * 1e6 > std::fabs(figures.superpositionCheckUv->value)) {
                figures.superpositionCheckUv = Worst{difference * 1e6, check};
                figures.superpositionCheckLsb = Worst{difference / scale.lsbVolts, check};
            }
        }
    }
    return figures;
}

}  // namespace tarnel::linearity
