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
#include "output/chart_page.h"
#include "output/plot_title.h"

namespace tarnel::cli {

// The two charts and the codes they span: every code with the bits set (the
// predicted curve covers them all), otherwise the measured codes' range.
struct CharacterizeCharts {
    std::vector<CodeChart> charts;
    std::uint32_t firstCode = 0;
    std::uint32_t lastCode = 0;
};

// Built only with Qt Charts; points is not empty.
CharacterizeCharts ChartsOfCharacterization(const std::vector<CharacterizePoint>& points,
                                            const CharacterizeFigures& figures, const LinearityLimits& limits);

// Throws CommandFailure(Failed) when this tarnelctl cannot draw, or the file
// cannot be written.
void DrawCharacterizePlot(const std::vector<CharacterizePoint>& points, const CharacterizeFigures& figures,
                          const LinearityLimits& limits, const PlotCaption& caption, const std::string& path);

}  // namespace tarnel::cli
