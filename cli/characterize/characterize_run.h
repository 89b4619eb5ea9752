// The measuring of a characterisation, on the stepping loop: for each code
// after its write and settling wait, a meter reading of `samples` values, and
// the board's read-back taken while the meter integrates. Each finished
// point is handed on at once; the loop stops after the current point when
// asked to, and at the first failed board transfer or meter failure, keeping
// every point finished before.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "board/board_connection.h"
#include "characterize/characterize_point.h"
#include "meter/lab_dmm.h"

namespace tarnel::cli {

struct CharacterizePlan {
    std::vector<std::uint32_t> codes;   // in the order they are measured
    double settleMs = 0;
};

enum class CharacterizeEnd { Completed, Stopped, BoardFailed, MeterFailed };

struct CharacterizeOutcome {
    std::vector<CharacterizePoint> points;   // every finished point
    CharacterizeEnd end = CharacterizeEnd::Completed;
    std::string failure;                     // for BoardFailed and MeterFailed: the one-line reason
};

CharacterizeOutcome RunCharacterization(BoardConnection& board, LabDmm& meter, const CharacterizePlan& plan,
                                        const std::function<void(const CharacterizePoint&)>& onPoint,
                                        const std::function<bool()>& stopRequested);

}  // namespace tarnel::cli
