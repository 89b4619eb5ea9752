// The codes a characterisation measures, and its figures from what was
// measured, both by the linearity library.
#pragma once

#include <cstdint>
#include <vector>

#include "characterize/characterize_command.h"
#include "characterize/characterize_figures.h"
#include "characterize/characterize_point.h"

namespace tarnel::cli {

// The codes of --codes in the order they are measured. A code file that
// cannot be read or holds a bad word throws CommandFailure.
std::vector<std::uint32_t> CharacterizeCodes(const CodeSetChoice& choice);

// The figures of the measured points (any subset of the planned codes, in
// their order, every pass); with the bits set, the superposition prediction
// as well. With reference readings, each point is corrected for the drift at
// its reading's time first; with two passes or more, each pass's figures are
// summed up in `repeats`.
CharacterizeFigures AnalyseCharacterization(const std::vector<CharacterizePoint>& points, CodeSetKind kind,
                                            const std::vector<ReferencePoint>& references = {}, unsigned repeats = 1);

}  // namespace tarnel::cli
