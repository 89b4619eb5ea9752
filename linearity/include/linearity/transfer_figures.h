// The static figures of a converter from measured points, by the usual
// definitions (V(k) the measured output at code k, LSB the ideal step):
//   offset (zero-code) error   V(0), in µV and LSB (code 0 measured)
//   end-point line             through the lowest and highest measured codes;
//                              its step is the measured LSB, (V(K) − V(0))/K
//                              when 0 and K were measured
//   gain error                 measured LSB against the ideal one, in ppm and % FSR
//   INL end-point              (V(k) − end-point line)/measured LSB
//   INL best-fit               (V(k) − least-squares line)/that line's step
//   DNL(k)                     (V(k) − V(k−1))/measured LSB − 1, where k and k−1 were both measured
//   monotonic                  no DNL ≤ −1; between measured codes further apart, an
//                              output that does not rise proves such a step
//   noise                      rms of the standard deviations of points with two readings or more
// A code measured more than once counts with the mean of its points for the
// end points and DNL, and with each point for the best-fit line and INL.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "linearity/measured_point.h"
#include "linearity/scale.h"

namespace tarnel::linearity {

struct PointFigures {
    std::uint32_t code = 0;
    double inlEndPointLsb = 0;
    double inlBestFitLsb = 0;
    std::optional<double> dnlLsb;   // where code − 1 was measured too
};

struct TransferFigures {
    std::size_t points = 0;
    std::optional<double> offsetUv;    // V(0)
    std::optional<double> offsetLsb;
    std::uint32_t lowCode = 0;         // the end points
    std::uint32_t highCode = 0;
    double measuredLsbVolts = 0;
    double gainErrorPpm = 0;
    double gainErrorPercentFsr = 0;
    double bestFitZeroVolts = 0;       // least-squares line: V at code 0 and step per code
    double bestFitLsbVolts = 0;
    Worst inlEndPointLsb;
    Worst inlBestFitLsb;
    std::optional<Worst> dnlLsb;       // where some k and k − 1 were both measured
    bool monotonic = true;
    std::optional<std::uint32_t> firstFallCode;   // the first code whose output does not rise above the code below
    std::optional<double> noiseUvRms;  // where some point had two readings or more
    std::vector<PointFigures> perPoint;   // in the order of the points given
};

// Empty with fewer than two distinct codes, an output that is not a finite
// number, or a line that does not rise (it gives no figures in LSB).
std::optional<TransferFigures> AnalyseTransfer(std::span<const MeasuredPoint> points, const Scale& scale);

}  // namespace tarnel::linearity
