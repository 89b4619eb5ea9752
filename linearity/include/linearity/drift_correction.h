// Offset and gain drift of a bench, from two reference codes measured again
// and again during a run (near zero and near full scale), and each reading
// corrected back to the first reference measurement. Between reference
// measurements the two reference outputs are interpolated linearly in time
// (outside them the nearest is held). At time t, with the reference outputs
// L(t), H(t) against L0, H0 at the start,
//   gain g(t) = (H(t) − L(t)) / (H0 − L0) − 1,   offset d(t) = L(t) − L0·(1 + g(t)),
// and a reading V taken at t is corrected to (V − d(t)) / (1 + g(t)).
// The drift rates are the least-squares slopes of the offset at zero volts,
// d(t), and of g(t) over the reference times.
#pragma once

#include <optional>
#include <vector>

namespace tarnel::linearity {

struct ReferenceReading {
    double seconds = 0;       // when, on the run's clock
    double lowVolts = 0;      // the output at the low reference code
    double highVolts = 0;     // and at the high one
    double lowU = 0;          // their standard uncertainties, V (0: unknown)
    double highU = 0;
};

struct DriftRates {
    double offsetUvPerMinute = 0;
    double gainPpmPerMinute = 0;
    std::optional<double> offsetUvPerMinuteU;   // with three reference measurements or more and their uncertainties
    std::optional<double> gainPpmPerMinuteU;
    double spanMinutes = 0;                     // from the first reference measurement to the last
};

class DriftCorrection {
public:
    // None without a reference measurement, with references out of time
    // order, or with a high reference not above the low one.
    static std::optional<DriftCorrection> From(std::vector<ReferenceReading> references);

    // The reading taken at `seconds`, corrected to the start.
    double Corrected(double volts, double seconds) const;
    // The standard uncertainty the correction adds to a reading of `volts` at
    // `seconds`, from the reference readings' uncertainties (the correlation
    // through the first reference measurement is left out: an upper bound).
    double CorrectionU(double volts, double seconds) const;
    DriftRates Rates() const;

private:
    explicit DriftCorrection(std::vector<ReferenceReading> references) : references_(std::move(references)) {}
    // The reference outputs at `seconds`, interpolated, and their uncertainties.
    ReferenceReading At(double seconds) const;

    std::vector<ReferenceReading> references_;
};

}  // namespace tarnel::linearity
