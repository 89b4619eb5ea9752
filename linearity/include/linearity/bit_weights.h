// The `bits` analysis: each bit's weight from single-bit codes, and from the
// weights by superposition the output of every code,
//   V(k) = V(0) + Σ_i b_i(k)·w_i        (b_i(k) bit i of k).
// V(0) and the weights w_i are fitted by least squares over the bit codes
// given (code 0, K, 2^i, K − 2^i, see code_sets.h), so the noise of one
// reading of code 0 is not carried into every weight; the check codes are
// held out of the fit, so that they judge the prediction independently. From
// the prediction: its end-point and best-fit INL (worst and code), the DNL
// at each major carry, DNL(2^j) = (w_j − Σ_{i<j} w_i)/LSB − 1, and the worst
// DNL of all codes (the DNL of code k is that of the carry of its lowest set
// bit). LSB here is the predicted end-point step, Σ_i w_i / K. The
// superposition check is the worst measured − predicted at the check codes
// measured: a DAC whose errors do not add up (a bow, for instance) shows there.
// Where every fitted point has its uncertainty (MeasuredPoint::Uncertainty),
// the weights' covariance is that of the least-squares estimate,
// A⁺·diag(u²)·A⁺ᵀ, and the uncertainties of the weights, the carry DNL, the
// predicted worst INL and the check follow from it to first order (the
// predicted LSB taken as exact: its share is below 1/K of theirs).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "linearity/measured_point.h"
#include "linearity/scale.h"

namespace tarnel::linearity {

// The widest converter whose every code is predicted (2^24 doubles).
inline constexpr int kMostBitsPredicted = 24;

struct CarryDnl {
    std::uint32_t code = 0;   // 2^j
    double dnlLsb = 0;
    std::optional<double> dnlLsbU;
};

struct BitsFigures {
    double zeroVolts = 0;                  // fitted V(0)
    std::vector<double> weightsVolts;      // w_i, bit 0 first
    std::vector<double> weightErrorsLsb;   // w_i / ideal LSB − 2^i
    std::vector<double> weightsLsbU;       // each w_i's uncertainty in ideal LSB; empty when unknown
    double lsbVolts = 0;                   // Σ w_i / K
    Worst predictedInlEndPointLsb;
    std::optional<double> predictedInlEndPointLsbU;
    Worst predictedInlBestFitLsb;
    Worst predictedDnlLsb;                 // over all codes, at its first code
    std::vector<CarryDnl> carryDnl;        // j = 1 … bits − 1
    std::optional<Worst> superpositionCheckUv;    // where a check code was measured
    std::optional<Worst> superpositionCheckLsb;   // the same in ideal LSB
    std::optional<double> superpositionCheckLsbU;
    std::size_t pointsFitted = 0;
};

// Empty when the points do not fix V(0) and every weight (code 0 and each
// 2^i, or an equivalent set, must be among them), when a code lies above K,
// an output is not finite, the predicted line does not rise, or the scale
// has more than kMostBitsPredicted bits.
std::optional<BitsFigures> AnalyseBits(std::span<const MeasuredPoint> points, const Scale& scale);

// V(k) = zeroVolts + Σ_i b_i(k)·w_i for every code k from 0 to 2^weights − 1.
std::vector<double> PredictAllCodes(double zeroVolts, std::span<const double> weightsVolts);

// The end-point INL of the prediction at every code, in LSB (for a plot of the predicted curve).
std::vector<double> PredictedInlEndPointLsb(const BitsFigures& figures);

}  // namespace tarnel::linearity
