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
    std::optional<double> u = std::nullopt;   // standard uncertainty of the value, where there was a spread
};

// From the `bits` code set: the figures superposition predicts.
struct BitsPrediction {
    std::array<double, protocol::kDacResolutionBits> weightLsb{};   // w_i = V(2^i) − V(0), in ideal LSB
    std::vector<double> weightLsbU;                                 // their uncertainties; empty when unknown
    WorstAtCode inlLsb;                                             // predicted end-point INL over all codes
    std::vector<WorstAtCode> carryDnlLsb;                           // DNL(2^j) for j = 1 … 17
    std::optional<WorstAtCode> superpositionLsb;                    // measured − predicted at the check codes
    std::vector<double> predictedInlLsb;                            // every code's predicted INL, for the plot
};

// The drift --drift found, over the run.
struct DriftFound {
    double offsetUvPerMinute = 0;
    double gainPpmPerMinute = 0;
    std::optional<double> offsetUvPerMinuteU;
    std::optional<double> gainPpmPerMinuteU;
    std::size_t references = 0;      // reference pairs measured
    double spanMinutes = 0;
    double largestCorrectionUv = 0;  // the largest |drift_uv| of a row
};

// How the settling went: the longest wait used, and with --settle auto the
// codes that did not settle within the longest wait allowed.
struct SettlingFound {
    double longestMs = 0;
    std::vector<std::uint32_t> unsettledCodes;
};

// A figure over the --repeat passes: the mean of each pass's value and the
// standard deviation between the passes.
struct RepeatedFigure {
    std::string name;   // as the JSON key: "offset_uv", "inl_ep_lsb", ...
    std::string unit;
    double mean = 0;
    double spread = 0;
    std::size_t passes = 0;   // passes that gave the figure
};

struct CharacterizeFigures {
    std::size_t points = 0;
    std::optional<double> offsetUv;          // V(0)
    std::optional<double> offsetLsb;
    std::optional<double> gainPpm;           // from the end points
    std::optional<double> gainPercentFsr;
    std::optional<double> measuredLsbUv;     // (V(K) − V(0)) / K
    std::optional<double> offsetUvU;         // standard uncertainties
    std::optional<double> gainPpmU;
    std::optional<double> measuredLsbUvU;
    std::pair<std::uint32_t, std::uint32_t> endPointCodes{};   // the end-point line's codes (0 and K when measured)
    std::optional<WorstAtCode> inlEndPointLsb;
    std::optional<WorstAtCode> inlBestFitLsb;
    std::optional<WorstAtCode> dnlLsb;
    std::optional<bool> monotonic;           // no DNL ≤ −1 (an output that does not rise proves one)
    std::optional<double> noiseUv;           // rms of the readings' deviations, with --avg 2 or more
    std::optional<BitsPrediction> bits;
    std::vector<PointFigures> perPoint;      // one per measured point, in its order
    std::optional<DriftFound> drift;         // with --drift
    std::string driftProblem;                // why the references measured could not correct the drift, if so
    SettlingFound settling;
    std::vector<RepeatedFigure> repeats;     // with --repeat 2 or more
};

}  // namespace tarnel::cli
