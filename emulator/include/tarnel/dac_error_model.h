// The emulated DAC's errors and the output they give. For data word k in
// normal operation
//
//   V(k) = offset + (1 + gain_ppm·1e-6) · LSB · ( k + Σ_i b_i(k)·bit_i + bow · 4·(k/K)·(1 − k/K) ) + n
//
// with LSB = 4.93 V / 2^18, K = 2^18 − 1, b_i(k) bit i of k and n Gaussian
// noise of σ = noise_uv µV, drawn afresh for every sample. Powered down, the
// output is 0 V. With every error 0, V(k) is exactly the ideal board's output.
#pragma once

#include <array>
#include <cstdint>
#include <random>

#include <tarnel/board_protocol.h>

namespace tarnel::emulator {

struct DacErrors {
    double offsetUv = 0;   // µV added to every output
    double gainPpm = 0;    // slope error, ppm
    double bowLsb = 0;     // parabola through both ends, this many LSB at mid-scale
    double noiseUv = 0;    // σ of the Gaussian noise on every sample, µV
    std::array<double, protocol::kDacResolutionBits> bitLsb{};   // error of each bit's weight, LSB
    std::uint32_t seed = 1;   // of the noise generator
    bool operator==(const DacErrors&) const = default;
};

// The noise-free V(k) of data word k (0 … 2^18 − 1) in normal operation.
double DacModelVolts(const DacErrors& errors, std::uint32_t data);

// Who samples the output: the board's read-back converter, or the bench
// meter's probes. Each draws its noise from a stream of its own, so that the
// order in which the two happen to sample (they run on different threads)
// changes neither one's noise, and a seeded run repeats.
enum class Observer { Converter, Meter };

// A DAC with errors and its own seeded noise generators. Not thread-safe:
// the board model calls it under its lock.
class DacOutputModel {
public:
    explicit DacOutputModel(const DacErrors& errors = {});

    // The output without noise, 0 V powered down.
    double Volts(protocol::DacInput input) const;
    // The output as one conversion or meter reading sees it: fresh noise on
    // V(k) from the observer's stream, 0 V powered down.
    double Sample(protocol::DacInput input, Observer observer = Observer::Converter);

private:
    struct NoiseStream {
        std::mt19937 generator;
        std::normal_distribution<double> gaussian{0.0, 1.0};
    };

    DacErrors errors_;
    NoiseStream converterNoise_;
    NoiseStream meterNoise_;
};

}  // namespace tarnel::emulator
