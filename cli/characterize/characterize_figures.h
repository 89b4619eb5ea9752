// What a characterisation found, by the usual definitions (V measured,
// LSB_ideal = full scale / 2^18, K = 2^18 − 1). A figure whose codes were not
// measured is absent.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <tarnel/board_protocol.h>

#include "characterize/characterize_csv.h"

namespace tarnel::cli {

struct WorstAtCode {
    double value = 0;        // signed, the one of largest magnitude
    std::uint32_t code = 0;
};

// From the `bits` code set: the figures superposition predicts.
struct BitsPrediction {
    std::array<double, protocol::kDacResolutionBits> weightLsb{};   // w_i = V(2^i) − V(0), in ideal LSB
    WorstAtCode inlLsb;                                             // predicted end-point INL over all codes
    std::vector<WorstAtCode> carryDnlLsb;                           // DNL(2^j) for j = 1 … 17
    std::optional<WorstAtCode> superpositionLsb;                    // measured − predicted at the check codes
    std::vector<double> predictedInlLsb;                            // every code's predicted INL, for the plot
};

struct CharacterizeFigures {
    std::size_t points = 0;
    std::optional<double> offsetUv;          // V(0)
    std::optional<double> offsetLsb;
    std::optional<double> gainPpm;           // from the end points
    std::optional<double> gainPercentFsr;
    std::optional<double> measuredLsbUv;     // (V(K) − V(0)) / K
    std::pair<std::uint32_t, std::uint32_t> endPointCodes{};   // the end-point line's codes (0 and K when measured)
    std::optional<WorstAtCode> inlEndPointLsb;
    std::optional<WorstAtCode> inlBestFitLsb;
    std::optional<WorstAtCode> dnlLsb;
    std::optional<bool> monotonic;           // no DNL ≤ −1 (an output that does not rise proves one)
    std::optional<double> noiseUv;           // rms of the readings' deviations, with --avg 2 or more
    std::optional<BitsPrediction> bits;
    std::vector<PointFigures> perPoint;      // one per measured point, in its order
};

}  // namespace tarnel::cli
