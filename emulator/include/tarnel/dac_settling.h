// How the DAC's output moves after a write, in bench seconds (bench_clock.h).
// A write at bench time t_w from the output v0 it had then toward the new
// value V gives, with time constant tau,
//
//   s(t) = V + (v0 − V) · e^(−(t − t_w)/tau)    for t ≥ t_w,   s(t) = v0 before t_w,
//
// and with tau = 0 the output is V at once. A reference drift of g per bench
// second scales the whole output: u(t) = s(t) · (1 + g·t).
#pragma once

namespace tarnel::emulator {

// The DAC's last write: when, from what output, toward what value (volts
// before any reference drift).
struct DacStep {
    double at = 0;      // bench seconds
    double from = 0;    // v0
    double to = 0;      // V
};

// s(t) of the step with time constant tauSeconds (0: at once).
double SettlingVoltsAt(const DacStep& step, double tauSeconds, double t);

// The mean of s(t) · (1 + gainDriftPerSecond·t) over the bench interval
// [begin, end], computed in closed form; the value at begin when end ≤ begin.
// A step that has settled (tau 0, or v0 = V) gives exactly V · (1 + g·mid),
// mid = (begin + end)/2.
double MeanSettlingVolts(const DacStep& step, double tauSeconds, double gainDriftPerSecond, double begin, double end);

}  // namespace tarnel::emulator
