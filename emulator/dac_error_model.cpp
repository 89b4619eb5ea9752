#include <tarnel/dac_error_model.h>

namespace tarnel::emulator {

namespace p = tarnel::protocol;

double DacModelVolts(const DacErrors& errors, std::uint32_t data) {
    constexpr double kFullScaleCode = p::kDataMask;   // K
    double codes = data;
    for (int bit = 0; bit < p::kDacResolutionBits; ++bit) {
        if ((data >> bit) & 1u) codes += errors.bitLsb[static_cast<std::size_t>(bit)];
    }
    const double fraction = data / kFullScaleCode;
    codes += errors.bowLsb * 4.0 * fraction * (1.0 - fraction);
    // codes / 2^18 * 4.93 as the ideal output is computed, so that a DAC
    // without errors gives exactly the ideal volts.
    return errors.offsetUv * 1e-6 + (1.0 + errors.gainPpm * 1e-6) * (codes / p::kDacCodes * p::kFullScaleVolts);
}

DacOutputModel::DacOutputModel(const DacErrors& errors) : errors_(errors), generator_(errors.seed) {}

double DacOutputModel::Volts(p::DacInput input) const {
    return input.powerDown == p::PowerDown::Normal ? DacModelVolts(errors_, input.data) : 0.0;
}

double DacOutputModel::Sample(p::DacInput input) {
    if (input.powerDown != p::PowerDown::Normal) return 0.0;
    const double noise = errors_.noiseUv > 0 ? gaussian_(generator_) * errors_.noiseUv * 1e-6 : 0.0;
    return Volts(input) + noise;
}

}  // namespace tarnel::emulator
