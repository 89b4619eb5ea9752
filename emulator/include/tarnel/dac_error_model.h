// The emulated DAC's errors and the output they give. For data word k in
// normal operation
//
//   V(k) = offset + (1 + gain_ppm·1e-6) · LSB · ( k + Σ_i b_i(k)·bit_i + bow · 4·(k/K)·(1 − k/K) ) + n
//
// with LSB = 4.93 V / 2^18, K = 2^18 − 1, b_i(k) bit i of k and n Gaussian
// noise of σ = noise_uv µV, drawn afresh for every sample. Powered down, the
// output is 0 V. With every error 0, V(k) is exactly the ideal board's output.
//
// On the bench (bench seconds t, bench_clock.h) a write does not take effect at
// once: the output settles toward V(k) (dac_settling.h), the DAC's reference
// drifts (the output scaled by 1 + g·t) and the meter's zero drifts (d·t added
// to what the meter reads, not to what the read-back converter converts). With
// none of the three given, every sample is exactly V(k) + n as above.
#pragma once

#include <array>
#include <cstdint>
#include <random>

#include <tarnel/board_protocol.h>
#include <tarnel/dac_settling.h>

namespace tarnel::emulator {

struct DacErrors {
    double offsetUv = 0;   // µV added to every output
    double gainPpm = 0;    // slope error, ppm
    double bowLsb = 0;     // parabola through both ends, this many LSB at mid-scale
    double noiseUv = 0;    // σ of the Gaussian noise on every sample, µV
    std::array<double, protocol::kDacResolutionBits> bitLsb{};   // error of each bit's weight, LSB
    std::uint32_t seed = 1;   // of the noise generators, the bench meter's own too
    double settleTauUs = 0;      // time constant of the settling after a write, bench µs (0: at once)
    double driftUvPerMin = 0;    // the meter's zero drift, µV per bench minute
    double driftPpmPerMin = 0;   // the reference's drift, ppm of the output per bench minute
    bool operator==(const DacErrors&) const = default;
};

// The noise-free V(k) of data word k (0 … 2^18 − 1) in normal operation.
double DacModelVolts(const DacErrors& errors, std::uint32_t data);

// Who samples the output: the board's read-back converter, or the bench
// meter's probes. Each draws its noise from a stream of its own, so that the
// order in which the two happen to sample (they run on different threads)
// changes neither one's noise, and a seeded run repeats.
enum class Observer { Converter, Meter };

// A DAC with errors and its own seeded noise generators, and its output on
// the bench since its last write. Not thread-safe: the board model calls it
// under its lock.
class DacOutputModel {
public:
    // At power-up the output stands at input word 0's value.
    explicit DacOutputModel(const DacErrors& errors = {});

    // The settled output without noise or drift, 0 V powered down.
    double Volts(protocol::DacInput input) const;
    // The settled output as one conversion or meter reading sees it: fresh
    // noise on V(k) from the observer's stream, 0 V powered down.
    double Sample(protocol::DacInput input, Observer observer = Observer::Converter);

    // A write at bench second t: the output leaves the value it has at t
    // (mid-settling too) toward the input's.
    void Write(protocol::DacInput input, double t);
    // The output stands at the input's value from bench second t on (power-up).
    void Settle(protocol::DacInput input, double t);

    // The output at bench second t without noise: settling and reference drift.
    double OutputAt(double t) const;
    // One conversion of the read-back converter at bench second t: OutputAt(t)
    // with fresh noise from its stream (none powered down).
    double Convert(double t);
    // One meter reading integrating over the bench interval [begin, end]: the
    // mean of the output over it, the meter's zero drift at its middle, and
    // fresh noise from the meter's stream (none powered down).
    double MeterReading(double begin, double end);

private:
    struct NoiseStream {
        std::mt19937 generator;
        std::normal_distribution<double> gaussian{0.0, 1.0};
    };

    double Noise(NoiseStream& stream);
    double TauSeconds() const { return errors_.settleTauUs * 1e-6; }
    double GainDriftPerSecond() const { return errors_.driftPpmPerMin * 1e-6 / 60; }
    double ZeroDriftVoltsPerSecond() const { return errors_.driftUvPerMin * 1e-6 / 60; }

    DacErrors errors_;
    NoiseStream converterNoise_;
    NoiseStream meterNoise_;
    DacStep step_;             // the last write
    bool poweredDown_ = false; // by the last write
};

}  // namespace tarnel::emulator
