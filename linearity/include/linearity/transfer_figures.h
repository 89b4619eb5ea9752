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
//
// Standard uncertainties (the _U members) are propagated to first order from
// each point's own (MeasuredPoint::Uncertainty), points taken as independent;
// a code measured several times whose points carry none gets the spread of
// its points about their mean. INL end-point at code k, x its place between
// the end codes lo and hi, m the measured LSB:
//   u² = (u_k² + ((1−x) − INL/(hi−lo))²·u_lo² + (x + INL/(hi−lo))²·u_hi²) / m²
// (an end code itself: u_k·sqrt(1 − 1/n)/m for n points of it); DNL:
// (u_k² + u_{k−1}²)/m² + (DNL + 1)²·u_m²/m², u_m = sqrt(u_lo² + u_hi²)/(hi − lo);
// INL best-fit: the variance of the least-squares residual, u_k²(1 − 2h_kk) +
// Σ_j h_kj²·u_j² (h the fit's hat matrix), over its step. A figure is
// without its uncertainty when a point it rests on has none.
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
    std::optional<double> inlEndPointLsbU;
    std::optional<double> inlBestFitLsbU;
    std::optional<double> dnlLsbU;
};

struct TransferFigures {
    std::size_t points = 0;
    std::optional<double> offsetUv;    // V(0)
    std::optional<double> offsetLsb;
    std::optional<double> offsetUvU;
    std::uint32_t lowCode = 0;         // the end points
    std::uint32_t highCode = 0;
    double measuredLsbVolts = 0;
    double gainErrorPpm = 0;
    double gainErrorPercentFsr = 0;
    std::optional<double> measuredLsbVoltsU;
    std::optional<double> gainErrorPpmU;
    double bestFitZeroVolts = 0;       // least-squares line: V at code 0 and step per code
    double bestFitLsbVolts = 0;
    Worst inlEndPointLsb;
    Worst inlBestFitLsb;
    std::optional<Worst> dnlLsb;       // where some k and k − 1 were both measured
    std::optional<double> inlEndPointLsbU;   // each worst's, at its code
    std::optional<double> inlBestFitLsbU;
    std::optional<double> dnlLsbU;
    bool monotonic = true;
    std::optional<std::uint32_t> firstFallCode;   // the first code whose output does not rise above the code below
    std::optional<double> noiseUvRms;  // where some point had two readings or more
    std::vector<PointFigures> perPoint;   // in the order of the points given
};

// Empty with fewer than two distinct codes, an output that is not a finite
// number, or a line that does not rise (it gives no figures in LSB).
std::optional<TransferFigures> AnalyseTransfer(std::span<const MeasuredPoint> points, const Scale& scale);

}  // namespace tarnel::linearity
