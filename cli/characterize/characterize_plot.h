// A characterisation as a picture: INL against the code above (the measured
// codes' end-point and best-fit INL as points; with the bits set, the curve
// superposition predicts over every code as a line), DNL below, both in LSB,
// with the --limits on INL and DNL drawn as lines (see SaveCodeCharts for the
// page and its formats).
#pragma once

#include <string>
#include <vector>

#include "characterize/characterize_figures.h"
#include "characterize/characterize_point.h"
#include "characterize/linearity_limits.h"
#include "output/plot_title.h"

namespace tarnel::cli {

// Throws CommandFailure(Failed) when this tarnelctl cannot draw, or the file
// cannot be written.
void DrawCharacterizePlot(const std::vector<CharacterizePoint>& points, const CharacterizeFigures& figures,
                          const LinearityLimits& limits, const PlotCaption& caption, const std::string& path);

}  // namespace tarnel::cli
