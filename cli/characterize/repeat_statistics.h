// The figures of each --repeat pass summed up: for each figure, the mean of
// the passes' values and their standard deviation (n − 1), over the passes
// that gave it.
#pragma once

#include <vector>

#include "characterize/characterize_figures.h"

namespace tarnel::cli {

// In a fixed order: offset_uv, gain_error_ppm, inl_ep_lsb, inl_bf_lsb,
// dnl_lsb (the worst of each pass, signed), superposition_lsb. A figure no
// pass gave is left out; one given by a single pass has spread 0.
std::vector<RepeatedFigure> RepeatStatistics(const std::vector<CharacterizeFigures>& passes);

}  // namespace tarnel::cli
