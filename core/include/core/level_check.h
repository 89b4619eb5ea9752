// Which levels a front end may send to the DAC: a data word the DAC has, a
// voltage within 0..full scale, and an output no higher than a cap. tarnelctl
// and the SCPI server both run these checks before they touch the board, and
// each words a refusal in its own terms.
#pragma once

#include <cstdint>
#include <optional>

#include <tarnel/board_protocol.h>

namespace tarnel {

enum class LevelRefusal {
    None,
    WordAboveLargest,        // a data word above 3FFFF
    VoltsOutsideFullScale,   // below 0 V or above full scale
    AboveCap,                // an output above the cap
};

// A cap on the output: the voltage it was given as, and the highest data
// word it lets through. Levels compare with it by data word, so that a level
// and a cap typed as the same number agree.
struct OutputCap {
    double volts = protocol::kFullScaleVolts;
    std::uint32_t highestWord = protocol::kDataMask;

    // No output above volts: the largest word whose output is at most volts.
    static OutputCap AtMost(double volts);
    // The word nearest to volts (its output up to half a step above volts),
    // never above the words within lets through.
    static OutputCap Nearest(double volts, const OutputCap& within);
};

// A data word written in mode: above 3FFFF, or (in normal operation; a
// powered-down output is 0 V) above the cap's highest word.
LevelRefusal RefusalOfWord(std::uint64_t word, protocol::PowerDown mode, const std::optional<OutputCap>& cap);

// A voltage: outside 0..full scale, or nearest to a word above the word
// nearest to the cap's volts.
LevelRefusal RefusalOfVolts(double volts, const std::optional<OutputCap>& cap);

// The word a voltage that passed RefusalOfVolts sets: the nearest one, but
// not above the cap's highest word.
std::uint32_t WordForVolts(double volts, const std::optional<OutputCap>& cap);

}  // namespace tarnel
