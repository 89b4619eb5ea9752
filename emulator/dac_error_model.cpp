#include <tarnel/dac_error_model.h>

#include <algorithm>

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

// The meter's stream is seeded apart from the converter's, from the same seed.
DacOutputModel::DacOutputModel(const DacErrors& errors)
    : errors_(errors), converterNoise_{std::mt19937(errors.seed), {}}, meterNoise_{std::mt19937(errors.seed ^ 0x9E3779B9u), {}} {
    Settle(p::DecodeInputWord(0), 0);
}

double DacOutputModel::Volts(p::DacInput input) const {
    return input.powerDown == p::PowerDown::Normal ? DacModelVolts(errors_, input.data) : 0.0;
}

double DacOutputModel::Sample(p::DacInput input, Observer observer) {
    if (input.powerDown != p::PowerDown::Normal) return 0.0;
    return Volts(input) + Noise(observer == Observer::Converter ? converterNoise_ : meterNoise_);
}

double DacOutputModel::Noise(NoiseStream& stream) {
    return errors_.noiseUv > 0 ? stream.gaussian(stream.generator) * errors_.noiseUv * 1e-6 : 0.0;
}

void DacOutputModel::Write(p::DacInput input, double t) {
    step_ = {t, SettlingVoltsAt(step_, TauSeconds(), t), Volts(input)};
    poweredDown_ = input.powerDown != p::PowerDown::Normal;
}

void DacOutputModel::Settle(p::DacInput input, double t) {
    step_ = {t, Volts(input), Volts(input)};
    poweredDown_ = input.powerDown != p::PowerDown::Normal;
}

double DacOutputModel::OutputAt(double t) const {
    return SettlingVoltsAt(step_, TauSeconds(), t) * (1 + GainDriftPerSecond() * t);
}

double DacOutputModel::Convert(double t) {
    const double output = OutputAt(t);
    return poweredDown_ ? output : output + Noise(converterNoise_);
}

double DacOutputModel::MeterReading(double begin, double end) {
    const double output = MeanSettlingVolts(step_, TauSeconds(), GainDriftPerSecond(), begin, end) +
                          ZeroDriftVoltsPerSecond() * (begin + std::max(end, begin)) / 2;
    return poweredDown_ ? output : output + Noise(meterNoise_);
}

}  // namespace tarnel::emulator
