#include <tarnel/dac_settling.h>

#include <algorithm>
#include <cmath>

namespace tarnel::emulator {

namespace {

bool Settles(const DacStep& step, double tauSeconds) { return tauSeconds > 0 && step.from != step.to; }

}  // namespace

double SettlingVoltsAt(const DacStep& step, double tauSeconds, double t) {
    if (!Settles(step, tauSeconds)) return step.to;
    if (t <= step.at) return step.from;
    return step.to + (step.from - step.to) * std::exp(-(t - step.at) / tauSeconds);
}

double MeanSettlingVolts(const DacStep& step, double tauSeconds, double gainDriftPerSecond, double begin, double end) {
    const double g = gainDriftPerSecond;
    if (!(end > begin)) return SettlingVoltsAt(step, tauSeconds, begin) * (1 + g * begin);
    const double span = end - begin;
    const double settled = step.to * (1 + g * (begin + end) / 2);
    if (!Settles(step, tauSeconds)) return settled;

    // With e(t) = s(t) − V over (v0 − V), the mean of u(t) is
    // V·(1 + g·mid) + (v0 − V) · (∫e + g·∫t·e) / span.
    const double tau = tauSeconds;
    double area = 0;     // ∫ e(t) dt over [begin, end]
    double moment = 0;   // ∫ t·e(t) dt
    // Before the write e is 1.
    const double flatEnd = std::min(end, step.at);
    if (flatEnd > begin) {
        area += flatEnd - begin;
        moment += (flatEnd - begin) * (begin + flatEnd) / 2;
    }
    // From c on, e(t) = e_c · e^(−(t − c)/tau); with x = (end − c)/tau and
    // q = 1 − e^(−x): ∫e = tau·e_c·q, ∫t·e = e_c·(c·tau·q + tau²·(q − x·e^(−x))).
    const double c = std::max(begin, step.at);
    if (end > c) {
        const double x = (end - c) / tau;
        const double ec = std::exp(-(c - step.at) / tau);
        const double q = -std::expm1(-x);
        area += tau * ec * q;
        moment += ec * (c * tau * q + tau * tau * (q - x * std::exp(-x)));
    }
    return settled + (step.from - step.to) * (area + g * moment) / span;
}

}  // namespace tarnel::emulator
