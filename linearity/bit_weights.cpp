#include "linearity/bit_weights.h"

#include <bit>
#include <cmath>

#include "linearity/code_sets.h"
#include "linearity/least_squares.h"
#include "linearity/line_fit.h"

namespace tarnel::linearity {

namespace {

using Matrix = std::vector<std::vector<double>>;

// One row of the fit: V(0) and each bit set in the code.
std::vector<double> FitRow(std::uint32_t code, int bits) {
    std::vector<double> row(static_cast<std::size_t>(bits) + 1, 0.0);
    row[0] = 1.0;
    for (int bit = 0; bit < bits; ++bit) row[static_cast<std::size_t>(bit) + 1] = (code >> bit) & 1u;
    return row;
}

// The fit's unknowns are V(0) and each weight's departure from its ideal
// value, so that the least squares work on microvolts, not on volts.
std::optional<std::vector<double>> FitDepartures(std::span<const MeasuredPoint> points, const Scale& scale) {
    Matrix rows;
    std::vector<double> departures;
    for (const MeasuredPoint& point : points) {
        rows.push_back(FitRow(point.code, scale.bits));
        departures.push_back(point.volts - scale.lsbVolts * point.code);
    }
    return SolveLeastSquares(std::move(rows), std::move(departures));
}

// The covariance of the fitted unknowns, A⁺·diag(u²)·A⁺ᵀ: column i of A⁺ is
// the fit of the unit vector e_i. None when a point has no uncertainty.
std::optional<Matrix> FitCovariance(std::span<const MeasuredPoint> points, const Scale& scale) {
    Matrix rows;
    std::vector<double> variances;
    for (const MeasuredPoint& point : points) {
        const auto u = point.Uncertainty();
        if (!u) return std::nullopt;
        rows.push_back(FitRow(point.code, scale.bits));
        variances.push_back(*u * *u);
    }
    const std::size_t unknowns = static_cast<std::size_t>(scale.bits) + 1;
    Matrix covariance(unknowns, std::vector<double>(unknowns, 0.0));
    for (std::size_t i = 0; i < points.size(); ++i) {
        std::vector<double> unit(points.size(), 0.0);
        unit[i] = 1.0;
        const auto column = SolveLeastSquares(rows, unit);
        if (!column) return std::nullopt;
        for (std::size_t a = 0; a < unknowns; ++a) {
            for (std::size_t b = 0; b < unknowns; ++b) covariance[a][b] += (*column)[a] * (*column)[b] * variances[i];
        }
    }
    return covariance;
}

// gᵀ·C·g.
double Quadratic(const Matrix& covariance, const std::vector<double>& gradient) {
    double sum = 0;
    for (std::size_t a = 0; a < gradient.size(); ++a) {
        for (std::size_t b = 0; b < gradient.size(); ++b) sum += gradient[a] * covariance[a][b] * gradient[b];
    }
    return sum;
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
    std::vector<MeasuredPoint> bitPoints;
    for (const MeasuredPoint& point : points) {
        if (IsBitCode(point.code, scale.bits)) bitPoints.push_back(point);
    }
    const auto fitted = FitDepartures(bitPoints, scale);
    if (!fitted) return std::nullopt;
    const auto covariance = FitCovariance(bitPoints, scale);
    const std::size_t unknowns = static_cast<std::size_t>(scale.bits) + 1;

    BitsFigures figures;
    figures.pointsFitted = bitPoints.size();
    figures.zeroVolts = (*fitted)[0];
    double sumOfWeights = 0;
    for (int bit = 0; bit < scale.bits; ++bit) {
        const double ideal = static_cast<double>(std::uint32_t{1} << bit);
        const double departure = (*fitted)[static_cast<std::size_t>(bit) + 1];
        figures.weightsVolts.push_back(scale.lsbVolts * ideal + departure);
        figures.weightErrorsLsb.push_back(departure / scale.lsbVolts);
        if (covariance) {
            const std::size_t at = static_cast<std::size_t>(bit) + 1;
            figures.weightsLsbU.push_back(std::sqrt((*covariance)[at][at]) / scale.lsbVolts);
        }
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
        if (bit >= 1) {
            CarryDnl carry{code, dnl, std::nullopt};
            if (covariance) {
                std::vector<double> gradient(unknowns, 0.0);
                for (int lower = 0; lower < bit; ++lower) gradient[static_cast<std::size_t>(lower) + 1] = -1 / lsb;
                gradient[static_cast<std::size_t>(bit) + 1] = 1 / lsb;
                carry.dnlLsbU = std::sqrt(Quadratic(*covariance, gradient));
            }
            figures.carryDnl.push_back(carry);
        }
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

    if (covariance) {
        // The worst code's INL against the weights: (b_i(k) − k/K)/LSB; V(0) cancels.
        const std::uint32_t worst = figures.predictedInlEndPointLsb.code;
        std::vector<double> gradient(unknowns, 0.0);
        for (int bit = 0; bit < scale.bits; ++bit) {
            gradient[static_cast<std::size_t>(bit) + 1] =
                (((worst >> bit) & 1u) - static_cast<double>(worst) / full) / lsb;
        }
        figures.predictedInlEndPointLsbU = std::sqrt(Quadratic(*covariance, gradient));
    }

    for (const std::uint32_t check : CheckCodes(scale.bits)) {
        for (const MeasuredPoint& point : points) {
            if (point.code != check) continue;
            const double difference = point.volts - predicted[check];
            if (!figures.superpositionCheckUv || std::fabs(difference) * 1e6 > std::fabs(figures.superpositionCheckUv->value)) {
                figures.superpositionCheckUv = Worst{difference * 1e6, check};
                figures.superpositionCheckLsb = Worst{difference / scale.lsbVolts, check};
                const auto u = point.Uncertainty();
                figures.superpositionCheckLsbU.reset();
                if (covariance && u) {
                    const double variance = *u * *u + Quadratic(*covariance, FitRow(check, scale.bits));
                    figures.superpositionCheckLsbU = std::sqrt(variance) / scale.lsbVolts;
                }
            }
        }
    }
    return figures;
}

}  // namespace tarnel::linearity
