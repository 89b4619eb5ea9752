#include "linearity/settle_rule.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace tarnel::linearity {

namespace {

double Mean(std::span<const double> values) {
    return std::accumulate(values.begin(), values.end(), 0.0) / static_cast<double>(values.size());
}

}  // namespace

std::optional<double> SuccessiveDifferenceSigma(std::span<const double> values) {
    if (values.size() < 2) return std::nullopt;
    double squares = 0;
    for (std::size_t i = 1; i < values.size(); ++i) squares += (values[i] - values[i - 1]) * (values[i] - values[i - 1]);
    return std::sqrt(squares / (2.0 * static_cast<double>(values.size() - 1)));
}

std::optional<SettleJudgement> JudgeSettled(std::span<const double> earlier, std::span<const double> later,
                                            double coverage) {
    const auto earlierSigma = SuccessiveDifferenceSigma(earlier);
    const auto laterSigma = SuccessiveDifferenceSigma(later);
    if (!earlierSigma || !laterSigma) return std::nullopt;
    const double sigma = std::min(*earlierSigma, *laterSigma);
    SettleJudgement judgement;
    judgement.differenceVolts = Mean(later) - Mean(earlier);
    judgement.boundVolts =
        coverage * sigma * std::sqrt(1.0 / static_cast<double>(earlier.size()) + 1.0 / static_cast<double>(later.size()));
    judgement.agree = std::fabs(judgement.differenceVolts) <= judgement.boundVolts;
    return judgement;
}

}  // namespace tarnel::linearity
