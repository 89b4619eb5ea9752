// The measuring of a characterisation, on the stepping loop: the code set
// `repeats` times over, and with drift references the two reference codes at
// the start, after every `driftEvery` codes and at the end. For each code
// after its write, its settled reading (settled_reading.h). Each finished
// point is handed on at once; the loop stops after the current step when
// asked to, and at the first failed board transfer or meter failure, keeping
// every point finished before.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "board/board_connection.h"
#include "characterize/characterize_command.h"
#include "characterize/characterize_point.h"
#include "meter/lab_dmm.h"

namespace tarnel::cli {

struct CharacterizePlan {
    std::vector<std::uint32_t> codes;   // in the order they are measured
    double settleMs = 0;                // the fixed wait, without settle.automatic
    SettleChoice settle;
    DriftChoice drift;
    unsigned repeats = 1;

    // Every code measured, references included: what the progress counts.
    std::size_t Steps() const;
};

enum class CharacterizeEnd { Completed, Stopped, BoardFailed, MeterFailed };

struct CharacterizeOutcome {
    std::vector<CharacterizePoint> points;       // every finished point
    std::vector<ReferencePoint> references;      // every finished pair of reference readings
    CharacterizeEnd end = CharacterizeEnd::Completed;
    std::string failure;                         // for BoardFailed and MeterFailed: the one-line reason
};

// `onStep` is called after each step (a point or a reference reading);
// `onPoint` with each point.
CharacterizeOutcome RunCharacterization(BoardConnection& board, LabDmm& meter, const CharacterizePlan& plan,
                                        const std::function<void(const CharacterizePoint&)>& onPoint,
                                        const std::function<bool()>& stopRequested,
                                        const std::function<void()>& onStep = [] {});

}  // namespace tarnel::cli
