#include "linearity/drift_correction.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace tarnel::linearity {

std::optional<DriftCorrection> DriftCorrection::From(std::vector<ReferenceReading> references) {
    if (references.empty()) return std::nullopt;
    for (std::size_t i = 0; i < references.size(); ++i) {
        const ReferenceReading& one = references[i];
        if (!(one.highVolts > one.lowVolts) || !std::isfinite(one.seconds)) return std::nullopt;
        if (i > 0 && one.seconds < references[i - 1].seconds) return std::nullopt;
    }
    return DriftCorrection(std::move(references));
}

ReferenceReading DriftCorrection::At(double seconds) const {
    if (seconds <= references_.front().seconds) return references_.front();
    if (seconds >= references_.back().seconds) return references_.back();
    const auto after = std::upper_bound(references_.begin(), references_.end(), seconds,
                                        [](double t, const ReferenceReading& r) { return t < r.seconds; });
    const ReferenceReading& a = *std::prev(after);
    const ReferenceReading& b = *after;
    const double span = b.seconds - a.seconds;
    const double share = span > 0 ? (seconds - a.seconds) / span : 0.0;
    ReferenceReading at;
    at.seconds = seconds;
    at.lowVolts = a.lowVolts + share * (b.lowVolts - a.lowVolts);
    at.highVolts = a.highVolts + share * (b.highVolts - a.highVolts);
    at.lowU = std::hypot((1 - share) * a.lowU, share * b.lowU);
    at.highU = std::hypot((1 - share) * a.highU, share * b.highU);
    return at;
}

double DriftCorrection::Corrected(double volts, double seconds) const {
    const ReferenceReading& start = references_.front();
    const ReferenceReading now = At(seconds);
    const double gain = (now.highVolts - now.lowVolts) / (start.highVolts - start.lowVolts);
    const double offset = now.lowVolts - start.lowVolts * gain;
    return (volts - offset) / gain;
}

double DriftCorrection::CorrectionU(double volts, double seconds) const {
    // To first order the correction is (1 − f)·(L(t) − L0) + f·(H(t) − H0),
    // f the reading's place between the start's references.
    const ReferenceReading& start = references_.front();
    const ReferenceReading now = At(seconds);
    const double f = (volts - start.lowVolts) / (start.highVolts - start.lowVolts);
    const double lowU = std::hypot(now.lowU, start.lowU);
    const double highU = std::hypot(now.highU, start.highU);
    if (seconds <= start.seconds) return 0;   // the start corrects nothing
    return std::hypot((1 - f) * lowU, f * highU);
}

DriftRates DriftCorrection::Rates() const {
    const ReferenceReading& start = references_.front();
    const double span = start.highVolts - start.lowVolts;
    const double zeroShare = -start.lowVolts / span;   // where 0 V lies between the start's references
    const std::size_t n = references_.size();
    double meanMinutes = 0;
    for (const ReferenceReading& r : references_) meanMinutes += r.seconds / 60 / static_cast<double>(n);
    double stt = 0, offsetSlope = 0, gainSlope = 0, offsetVariance = 0, gainVariance = 0;
    bool uncertaintiesKnown = n >= 3;
    for (const ReferenceReading& r : references_) {
        const double dt = r.seconds / 60 - meanMinutes;
        const double gain = (r.highVolts - r.lowVolts) / span - 1;
        const double offset = (1 - zeroShare) * (r.lowVolts - start.lowVolts) + zeroShare * (r.highVolts - start.highVolts);
        stt += dt * dt;
        offsetSlope += dt * offset;
        gainSlope += dt * gain;
        offsetVariance += dt * dt * ((1 - zeroShare) * (1 - zeroShare) * r.lowU * r.lowU + zeroShare * zeroShare * r.highU * r.highU);
        gainVariance += dt * dt * (r.lowU * r.lowU + r.highU * r.highU) / (span * span);
        if (!(r.lowU > 0) || !(r.highU > 0)) uncertaintiesKnown = false;
    }
    DriftRates rates;
    rates.spanMinutes = (references_.back().seconds - start.seconds) / 60;
    if (stt > 0) {
        rates.offsetUvPerMinute = offsetSlope / stt * 1e6;
        rates.gainPpmPerMinute = gainSlope / stt * 1e6;
        if (uncertaintiesKnown) {
            rates.offsetUvPerMinuteU = std::sqrt(offsetVariance) / stt * 1e6;
            rates.gainPpmPerMinuteU = std::sqrt(gainVariance) / stt * 1e6;
        }
    }
    return rates;
}

}  // namespace tarnel::linearity
