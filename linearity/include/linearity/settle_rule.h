// When an output has settled, judged from the readings alone: after a write
// the meter takes groups of readings (one READ? of --avg values each) until
// two groups in a row agree. The bound comes from the spread the readings
// show, not from a figure assumed for the meter: the noise of one value is
// estimated from the differences of successive values within a group,
//   sigma^2 = sum (x[i+1] - x[i])^2 / (2 (n - 1)),
// which a slow trend (an output still settling, drift) hardly inflates, as
// it would the plain standard deviation. Two groups of n1 and n2 values
// agree when their means differ by no more than
//   coverage * sigma * sqrt(1/n1 + 1/n2),
// with sigma the smaller of the two groups' estimates: a group caught on a
// fast edge does not widen the bound.
#pragma once

#include <optional>
#include <span>

namespace tarnel::linearity {

inline constexpr double kSettleCoverage = 3;

// The noise of one value from successive differences; none with fewer than two values.
std::optional<double> SuccessiveDifferenceSigma(std::span<const double> values);

struct SettleJudgement {
    bool agree = false;
    double differenceVolts = 0;   // mean of the later group − mean of the earlier
    double boundVolts = 0;
};

// None when either group has fewer than two values (no spread to judge by).
std::optional<SettleJudgement> JudgeSettled(std::span<const double> earlier, std::span<const double> later,
                                            double coverage = kSettleCoverage);

}  // namespace tarnel::linearity
