#include "meter_figures.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace tarnel::emulator {

namespace {

// Resolution as a share of the range at each standard integration time.
constexpr std::array<double, kStandardNplc.size()> kResolutionShare{1e-4, 1e-5, 3e-6, 1e-6, 3e-7};
// Noise in volts on the 10 V range at each standard integration time.
constexpr double kNoiseReferenceRange = 10;
constexpr std::array<double, kStandardNplc.size()> kNoiseOnReferenceRange{60e-6, 15e-6, 4e-6, 1.5e-6, 0.6e-6};

// The value at nplc of a quantity tabulated at the standard integration
// times, on straight lines between them on log-log axes; the end values
// beyond the table.
double LogLogAt(const std::array<double, kStandardNplc.size()>& values, double nplc) {
    if (!(nplc > kStandardNplc.front())) return values.front();
    if (nplc >= kStandardNplc.back()) return values.back();
    std::size_t upper = 1;
    while (kStandardNplc[upper] < nplc) ++upper;
    const std::size_t lower = upper - 1;
    const double share = std::log(nplc / kStandardNplc[lower]) / std::log(kStandardNplc[upper] / kStandardNplc[lower]);
    return std::exp(std::log(values[lower]) + share * std::log(values[upper] / values[lower]));
}

}  // namespace

std::optional<double> RangeFor(double volts) {
    const double magnitude = std::fabs(volts);
    for (const double range : kMeterRanges) {
        if (magnitude <= range) return range;
    }
    if (magnitude <= kMeterRanges.back() * kOverRangeShare) return kMeterRanges.back();
    return std::nullopt;
}

double ResolutionVolts(double range, double nplc) { return range * LogLogAt(kResolutionShare, nplc); }

double NoiseVolts(double range, double nplc) {
    return LogLogAt(kNoiseOnReferenceRange, nplc) * range / kNoiseReferenceRange;
}

double AutoDelaySeconds(double nplc) { return nplc >= 1 ? kAutoDelayLongIntegration : kAutoDelayShortIntegration; }

double ReadingSeconds(double nplc, bool autoZero) { return nplc / kLineFrequencyHz * (autoZero ? 2 : 1); }

std::string ReadingText(double volts) {
    char text[32];
    std::snprintf(text, sizeof text, "%+.8E", volts);
    return text;
}

}  // namespace tarnel::emulator
