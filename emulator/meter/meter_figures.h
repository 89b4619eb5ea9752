// The emulated bench meter's fixed figures: its DC voltage ranges, the
// integration times it takes (in power-line cycles, NPLC, at 50 Hz), the
// resolution and the noise that go with them, and how long a reading lasts.
// Between the tabulated integration times resolution and noise are
// interpolated on log-log axes, as both fall roughly as a power of the time.
#pragma once

#include <array>
#include <optional>
#include <string>

namespace tarnel::emulator {

inline constexpr std::array<double, 5> kMeterRanges{0.1, 1, 10, 100, 1000};
// A reading beyond this share of its range is over range.
inline constexpr double kOverRangeShare = 1.2;
// What an over-range reading reads (with the sign of the input).
inline constexpr double kOverRangeReading = 9.9e37;

inline constexpr double kLineFrequencyHz = 50;
inline constexpr double kLeastNplc = 0.02;
inline constexpr double kMostNplc = 100;
inline constexpr double kDefaultNplc = 10;
// The integration times that a resolution selects, fastest first.
inline constexpr std::array<double, 5> kStandardNplc{0.02, 0.2, 1, 10, 100};

// The trigger delay AUTO stands for, in seconds (before the speed factor).
inline constexpr double kAutoDelayLongIntegration = 1.5e-3;   // NPLC 1 and above
inline constexpr double kAutoDelayShortIntegration = 1.0e-3;
inline constexpr double kLongestDelay = 3600;

inline constexpr unsigned kMostSamples = 50000;    // SAMPle:COUNt and TRIGger:COUNt each
inline constexpr unsigned kReadingMemory = 50000;  // readings one INIT may take in all

// The smallest range that holds volts (its magnitude), the top range up to
// its over-range share; nothing beyond that.
std::optional<double> RangeFor(double volts);

// The resolution in volts of a reading on range at nplc.
double ResolutionVolts(double range, double nplc);

// The RMS noise in volts of one reading on range at nplc: on the 10 V range
// 60, 15, 4, 1.5 and 0.6 uV at 0.02, 0.2, 1, 10 and 100 NPLC; in proportion
// to the range on the others.
double NoiseVolts(double range, double nplc);

// The trigger delay AUTO stands for at nplc, in seconds.
double AutoDelaySeconds(double nplc);

// How long one reading takes at nplc: nplc / 50 s, twice that with autozero.
double ReadingSeconds(double nplc, bool autoZero);

// A reading as the meter sends it: "+2.46500123E+00".
std::string ReadingText(double volts);

}  // namespace tarnel::emulator
